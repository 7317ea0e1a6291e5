#include <host/error.h>
#include <host/sync.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// The count of a semaphore, probed by taking every unit with zero-timeout
// waits and giving them back.
LONG probe_count(HANDLE semaphore) {
    LONG count = 0;
    while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0)
        ++count;
    if (count > 0)
        ReleaseSemaphore(semaphore, count, nullptr);
    return count;
}

TEST(Semaphore, BoundsAndReleaseAmountsAreCheckedAndAFailedReleaseChangesNothing) {
    for (auto [initial, maximum] : {std::pair{2, 1}, {0, 0}, {-1, 3}, {0, -5}}) {
        SetLastError(0);
        EXPECT_EQ(CreateSemaphoreW(nullptr, initial, maximum, nullptr), nullptr)
            << initial << "/" << maximum;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    HANDLE s = CreateSemaphoreW(nullptr, 2, 3, nullptr);
    LONG previous = 77;
    for (LONG amount : {0, -1}) {
        EXPECT_FALSE(ReleaseSemaphore(s, amount, &previous));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_FALSE(ReleaseSemaphore(s, 2, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(previous, 77) << "not written on failure";
    EXPECT_EQ(probe_count(s), 2);
    EXPECT_TRUE(ReleaseSemaphore(s, 1, &previous));
    EXPECT_EQ(previous, 2);
    EXPECT_EQ(probe_count(s), 3);
    CloseHandle(s);
    // Near the limit of LONG the sum must not overflow.
    s = CreateSemaphoreW(nullptr, 1, 0x7FFFFFFF, nullptr);
    EXPECT_FALSE(ReleaseSemaphore(s, 0x7FFFFFFF, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_TRUE(ReleaseSemaphore(s, 0x7FFFFFFE, nullptr));
    CloseHandle(s);
}

TEST(Semaphore, ReleaseOfManyWakesThatManyWaiters) {
    HANDLE s = CreateSemaphoreW(nullptr, 0, 10, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] {
            if (WaitForSingleObject(s, 10000) == WAIT_OBJECT_0)
                ++released;
        });
    ASSERT_TRUE(await_waiters(s, 3));
    ASSERT_TRUE(ReleaseSemaphore(s, 2, nullptr));
    ASSERT_TRUE(await_waiters(s, 1));
    EXPECT_EQ(probe_count(s), 0) << "both units went to waiters";
    ASSERT_TRUE(ReleaseSemaphore(s, 1, nullptr));
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(released.load(), 3);
    CloseHandle(s);
}

bool OtherThreadGets(HANDLE m) {
    DWORD result = 0;
    std::thread([&] {
        result = WaitForSingleObject(m, 0);
        if (result == WAIT_OBJECT_0)
            ReleaseMutex(m);
    }).join();
    return result == WAIT_OBJECT_0;
}

TEST(Mutex, OwnerReentersNeedsOneReleasePerHoldAndOnlyItMayRelease) {
    HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    BOOL released = TRUE;
    DWORD error = 0;
    std::thread([&] {
        released = ReleaseMutex(m);
        error = GetLastError();
    }).join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, ERROR_NOT_OWNER);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ReleaseMutex(m));
        EXPECT_FALSE(OtherThreadGets(m)) << "still held after release " << i + 1;
    }
    ASSERT_TRUE(ReleaseMutex(m));
    EXPECT_TRUE(OtherThreadGets(m));
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(m)) << "one release too many";
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    CloseHandle(m);
}

TEST(Mutex, ReleaseWakesTheNextWaiterWhoThenOwnsIt) {
    HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
    std::atomic<DWORD> result{0xDEAD};
    std::atomic<BOOL> released_by_waiter{FALSE};
    std::thread waiter([&] {
        result = WaitForSingleObject(m, INFINITE);
        released_by_waiter = ReleaseMutex(m);
    });
    ASSERT_TRUE(await_waiters(m, 1));
    ASSERT_TRUE(ReleaseMutex(m));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_TRUE(released_by_waiter.load());
    CloseHandle(m);
}

TEST(Mutex, OwnerThatEndsAbandonsTheMutex) {
    HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    std::thread owner([m] { ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0); });
    owner.join();
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_ABANDONED);
    ASSERT_TRUE(ReleaseMutex(m)) << "the abandoned mutex now belongs to us";
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "abandonment is reported once";
    ReleaseMutex(m);
    CloseHandle(m);
}

TEST(Mutex, AbandonmentWakesABlockedWaiter) {
    HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE owned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        WaitForSingleObject(m, 0);
        SetEvent(owned);
        WaitForSingleObject(go, INFINITE);
    });
    ASSERT_EQ(WaitForSingleObject(owned, 10000), WAIT_OBJECT_0);
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] {
        result = WaitForSingleObject(m, INFINITE);
        ReleaseMutex(m);
    });
    ASSERT_TRUE(await_waiters(m, 1));
    SetEvent(go);
    owner.join();
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_ABANDONED);
    CloseHandle(m);
    CloseHandle(owned);
    CloseHandle(go);
}

TEST(Mutex, TimedWaitsNeverLoseAHandOff) {
    // Releases keep landing as one-millisecond waits run out. A waiter handed
    // the mutex as its time runs out must report it as taken, or it owns the
    // mutex without knowing and the holder never gets it back.
    HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    const int rounds = kStressIterations / 500;
    std::atomic<bool> holding{true};
    std::atomic<int> taken_by_timed{0};
    std::thread timed([&] {
        while (holding.load()) {
            DWORD r = WaitForSingleObject(m, 1);
            if (r == WAIT_TIMEOUT)
                continue;
            ASSERT_EQ(r, WAIT_OBJECT_0);
            ++taken_by_timed;
            ASSERT_TRUE(ReleaseMutex(m));
        }
    });
    for (int i = 0; i < rounds; ++i) {
        ASSERT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0) << "round " << i;
        auto until =
            std::chrono::steady_clock::now() + std::chrono::microseconds(500 + 97 * (i % 11));
        while (std::chrono::steady_clock::now() < until) {
        }
        ASSERT_TRUE(ReleaseMutex(m));
    }
    holding = false;
    timed.join();
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "nobody kept it by mistake";
    ReleaseMutex(m);
    CloseHandle(m);
}

}  // namespace
