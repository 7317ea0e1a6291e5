// Helpers shared by the thread, lock and allocator tests.
#pragma once

#include <host/internal/handle_table.h>
#include <host/types.h>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define KES_THREAD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KES_THREAD_TSAN 1
#endif
#endif

// Fewer rounds under the thread sanitizer, which slows locking many times.
#ifdef KES_THREAD_TSAN
constexpr int kRounds = 2000;
constexpr int kStopRounds = 30;
#else
constexpr int kRounds = 50000;
constexpr int kStopRounds = 200;
#endif

// Polls `condition` every millisecond for up to 10 s; true once it holds.
template <class Condition>
bool Eventually(Condition condition) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// True when `count` threads are registered as waiting on the object behind
// `handle` within 10 s.
inline bool AwaitWaiters(HANDLE handle, std::size_t count) {
    return Eventually([&] { return host::debug_waiter_count(handle) == count; });
}

// Checks that `counter` stays where it is for a while: the thread that
// advanced it runs no more.
inline bool StaysStill(const std::atomic<long>& counter) {
    long before = counter.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return counter.load() == before;
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}
