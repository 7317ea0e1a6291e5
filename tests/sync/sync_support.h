// Helpers shared by the kes synchronisation tests.
#pragma once

#include <host/internal/handle_table.h>
#include <host/types.h>
#include <kes/sync/keslock.h>

#include <chrono>
#include <thread>
#include <vector>

// Fewer iterations under the thread sanitizer, which slows locking ~50-fold.
#if defined(__SANITIZE_THREAD__)
#define KES_SYNC_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KES_SYNC_TSAN 1
#endif
#endif
#ifdef KES_SYNC_TSAN
constexpr int kIncrements = 5000;
#else
constexpr int kIncrements = 100000;
#endif
// For the kernel-backed lockables: under contention each hand-off wakes a
// sleeping thread (several microseconds), so the full count would take
// seconds per lockable while a broken lock loses updates within far fewer.
constexpr int kKernelIncrements = kIncrements / 4;

// Waits (up to 10 s) until `count` threads wait on the kernel object behind
// `handle`; true when they do.
inline bool await_waiters(void* handle, std::size_t count) {
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (host::debug_waiter_count(handle) != count) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// 4 threads each add 1 to a plain int `increments` times under CKesLock;
// returns the total. A lost update shows as a smaller total.
inline int count_under_lock(const ILockable& lock, int increments) {
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < increments; ++i) {
                CKesLock guard(&lock);
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    return counter;
}
