// Events: manual and auto reset, signals that do not count, PulseEvent.
#include <host/error.h>
#include <host/sync.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

// Operations on a fresh event, one letter each: s SetEvent, r ResetEvent,
// p PulseEvent (nobody waits), w a zero wait that must succeed, t one that
// must time out.
TEST(Event, StateFollowsSetResetPulseAndTheWaitsThatConsumeIt) {
    struct Case {
        bool manual, initial;
        const char* operations;
    };
    const Case cases[] = {
        {true, true, "wwrt"},                        // a manual event stays signalled until reset
        {false, true, "wt"},                         // an auto event resets as it releases
        {false, false, "sswt"},                      // signals do not count
        {true, false, "pt"},                         // a pulse that finds nobody is lost
        {false, false, "pt"},   {true, true, "pt"},  // and leaves a signalled event reset
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.manual << c.initial << c.operations);
        HANDLE e = CreateEventW(nullptr, c.manual, c.initial, nullptr);
        ASSERT_NE(e, nullptr);
        for (const char* op = c.operations; *op != 0; ++op) {
            switch (*op) {
                case 's':
                    EXPECT_TRUE(SetEvent(e));
                    break;
                case 'r':
                    EXPECT_TRUE(ResetEvent(e));
                    break;
                case 'p':
                    EXPECT_TRUE(PulseEvent(e));
                    break;
                case 'w':
                    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
                    break;
                case 't':
                    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
                    break;
            }
        }
        CloseHandle(e);
    }
}

TEST(Event, SetWakesABlockedWaiterAndTheHandOffConsumesTheSignal) {
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result = WaitForSingleObject(e, INFINITE); });
    ASSERT_TRUE(await_waiters(e, 1));
    ASSERT_TRUE(SetEvent(e));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

// Three threads wait; a pulse releases all of them on a manual event and
// exactly one on an auto event, and leaves the event reset. The pulse hands
// the event over before it returns, so the threads still registered are
// exactly those it did not release.
TEST(Pulse, ReleasesEveryCurrentWaiterOfAManualEventAndOneOfAnAutoEvent) {
    for (bool manual : {true, false}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        HANDLE e = CreateEventW(nullptr, manual, FALSE, nullptr);
        std::atomic<int> released{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 3; ++i)
            threads.emplace_back([&] {
                if (WaitForSingleObject(e, INFINITE) == WAIT_OBJECT_0)
                    ++released;
            });
        ASSERT_TRUE(await_waiters(e, 3));
        ASSERT_TRUE(PulseEvent(e));
        const int expected = manual ? 3 : 1;
        EXPECT_EQ(host::debug_waiter_count(e), static_cast<std::size_t>(3 - expected));
        while (released.load() < expected)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a wrong extra shows
        EXPECT_EQ(released.load(), expected);
        EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);  // nor any later waiter
        // Signals given before a waiter took the last one coalesce: loop.
        while (released.load() < 3) {
            SetEvent(e);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (auto& t : threads)
            t.join();
        CloseHandle(e);
    }
}

// Every SetEvent that finds a waiter releases exactly one thread: none twice,
// none lost.
TEST(Event, AutoEventHandsEachSignalToExactlyOneOfManyWaiters) {
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const int rounds = kStressIterations / 50;
    std::atomic<int> released{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            while (!stop.load()) {
                if (WaitForSingleObject(e, 5) == WAIT_OBJECT_0)
                    ++released;
            }
        });
    for (int i = 0; i < rounds; ++i) {
        ASSERT_TRUE(SetEvent(e));
        while (released.load() != i + 1)  // taken before the next: no coalescing
            std::this_thread::yield();
    }
    stop = true;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(released.load(), rounds);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

// The signaller must be done with the waiter's wait state by the time the
// waiter can see its wake-up: the waiter's thread may end at once (the
// address sanitizer sees a late touch).
TEST(Event, AWaiterMayEndAtOnceAfterItsWake) {
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (int i = 0; i < kStressIterations / 500; ++i) {
        std::thread waiter([&] { WaitForSingleObject(e, INFINITE); });
        while (host::debug_waiter_count(e) != 1)
            std::this_thread::yield();
        ASSERT_TRUE(SetEvent(e));
        waiter.join();
    }
    CloseHandle(e);
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
