#include <host/error.h>
#include <host/sync.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct EventHandle {
    HANDLE h;
    EventHandle(bool manual, bool initial) : h(CreateEventW(nullptr, manual, initial, nullptr)) {}
    ~EventHandle() { CloseHandle(h); }
};

TEST(Event, ManualEventStaysSignalledForEveryWaiter) {
    EventHandle e(true, true);
    ASSERT_NE(e.h, nullptr);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Event, AutoEventResetsAfterReleasingOneWaiter) {
    EventHandle e(false, true);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Event, SignalsDoNotCount) {
    EventHandle e(false, false);
    ASSERT_TRUE(SetEvent(e.h));
    ASSERT_TRUE(SetEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Event, SetWakesABlockedWaiter) {
    EventHandle e(false, false);
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result = WaitForSingleObject(e.h, INFINITE); });
    ASSERT_TRUE(await_waiters(e.h, 1));
    ASSERT_TRUE(SetEvent(e.h));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT) << "the hand-off consumed the signal";
}

// Starts `count` threads that wait on `h` without limit and count their
// releases; returns once all of them are registered as waiting.
struct Waiters {
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    Waiters(HANDLE h, int count) {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, h] {
                if (WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0)
                    ++released;
            });
    }
    void join() {
        for (auto& t : threads)
            t.join();
    }
};

TEST(Pulse, PulseOnManualEventReleasesAllCurrentWaiters) {
    EventHandle e(true, false);
    Waiters waiters(e.h, 3);
    ASSERT_TRUE(await_waiters(e.h, 3));
    ASSERT_TRUE(PulseEvent(e.h));
    waiters.join();
    EXPECT_EQ(waiters.released.load(), 3);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT) << "a pulse leaves the event reset";
}

TEST(Pulse, PulseOnAutoEventReleasesExactlyOneWaiter) {
    EventHandle e(false, false);
    Waiters waiters(e.h, 3);
    ASSERT_TRUE(await_waiters(e.h, 3));
    ASSERT_TRUE(PulseEvent(e.h));
    ASSERT_TRUE(await_waiters(e.h, 2));
    // Give a wrongly released second waiter time to show up.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(waiters.released.load(), 1);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
    // Release the other two (signals given before a waiter took the last one
    // coalesce, hence the loop).
    while (waiters.released.load() < 3) {
        SetEvent(e.h);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    waiters.join();
}

TEST(Pulse, PulseWithNoWaiterIsLost) {
    EventHandle manual(true, false);
    EventHandle automatic(false, false);
    ASSERT_TRUE(PulseEvent(manual.h));
    ASSERT_TRUE(PulseEvent(automatic.h));
    EXPECT_EQ(WaitForSingleObject(manual.h, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(automatic.h, 0), WAIT_TIMEOUT);
}

TEST(Pulse, PulseResetsASignalledEvent) {
    EventHandle e(true, true);
    ASSERT_TRUE(PulseEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Pulse, LaterWaitersAreNotReleasedByAnEarlierPulse) {
    EventHandle e(true, false);
    Waiters first(e.h, 2);
    ASSERT_TRUE(await_waiters(e.h, 2));
    ASSERT_TRUE(PulseEvent(e.h));
    first.join();
    EXPECT_EQ(first.released.load(), 2);
    EXPECT_EQ(WaitForSingleObject(e.h, 20), WAIT_TIMEOUT);
}

TEST(Event, AutoEventHandsEachSignalToExactlyOneOfManyWaiters) {
    // Conservation: every SetEvent that finds a waiter releases one thread,
    // none is released twice and none is lost.
    EventHandle e(false, false);
    constexpr int kThreads = 4;
    const int rounds = kStressIterations / 50;
    std::atomic<int> released{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            while (!stop.load()) {
                if (WaitForSingleObject(e.h, 5) == WAIT_OBJECT_0)
                    ++released;
            }
        });
    for (int i = 0; i < rounds; ++i) {
        ASSERT_TRUE(SetEvent(e.h));
        // Wait until that signal is taken before giving the next, so signals
        // cannot coalesce.
        while (released.load() != i + 1)
            std::this_thread::yield();
    }
    stop = true;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(released.load(), rounds);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Event, AWaiterMayEndAtOnceAfterItsWake) {
    // The thread that signals must be done with the waiter's wait state by
    // the time the waiter can see its wake-up: the waiter may return and its
    // thread end at once (the address sanitizer sees a late touch).
    EventHandle e(false, false);
    const int rounds = kStressIterations / 500;
    for (int i = 0; i < rounds; ++i) {
        std::thread waiter([&] { WaitForSingleObject(e.h, INFINITE); });
        while (host::debug_waiter_count(e.h) != 1)
            std::this_thread::yield();
        ASSERT_TRUE(SetEvent(e.h));
        waiter.join();
    }
}

TEST(Event, WrongKindOfHandleIsRefused) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(semaphore));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ResetEvent(semaphore));
    EXPECT_FALSE(PulseEvent(semaphore));
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0) << "the semaphore is untouched";
    CloseHandle(semaphore);
}

}  // namespace
