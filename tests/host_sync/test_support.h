// Helpers shared by the host synchronisation tests.
#pragma once

#include <host/internal/handle_table.h>
#include <host/types.h>

#include <chrono>
#include <thread>

// Fewer iterations under the thread sanitizer, which slows locking ~50-fold.
#if defined(__SANITIZE_THREAD__)
#define HOST_SYNC_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HOST_SYNC_TSAN 1
#endif
#endif
#ifdef HOST_SYNC_TSAN
constexpr int kStressIterations = 5000;
#else
constexpr int kStressIterations = 100000;
#endif

// Waits (up to 10 s) until `count` threads are registered as waiting on the
// object behind `handle`; true when they are.
inline bool await_waiters(HANDLE handle, std::size_t count) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (host::debug_waiter_count(handle) != count) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
