#include <host/error.h>
#include <host/sync.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

HANDLE auto_event(bool signalled) {
    return CreateEventW(nullptr, FALSE, signalled, nullptr);
}

void close_all(std::initializer_list<HANDLE> handles) {
    for (HANDLE h : handles)
        CloseHandle(h);
}

TEST(WaitAny, ReturnsTheLowestSignalledIndexAndConsumesOnlyIt) {
    HANDLE handles[64];
    for (HANDLE& h : handles)
        h = auto_event(false);
    SetEvent(handles[63]);  // 64 objects are accepted
    EXPECT_EQ(WaitForMultipleObjects(64, handles, FALSE, 0), WAIT_OBJECT_0 + 63);
    SetEvent(handles[1]);
    SetEvent(handles[2]);
    EXPECT_EQ(WaitForMultipleObjects(64, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(handles[2], 0), WAIT_OBJECT_0) << "not consumed";
    EXPECT_EQ(WaitForMultipleObjects(64, handles, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE h : handles)
        SetEvent(h);
    EXPECT_EQ(WaitForMultipleObjects(64, handles, TRUE, 0), WAIT_OBJECT_0);
    for (HANDLE h : handles)
        CloseHandle(h);
}

TEST(WaitAny, WakesWithTheIndexOfTheObjectThatWasSignalled) {
    HANDLE a = auto_event(false), b = auto_event(false);
    HANDLE handles[] = {a, b};
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result = WaitForMultipleObjects(2, handles, FALSE, INFINITE); });
    ASSERT_TRUE(await_waiters(b, 1));
    SetEvent(b);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(host::debug_waiter_count(a), 0u) << "the other registration was withdrawn";
    close_all({a, b});
}

TEST(WaitAny, ManySemaphoresLoseNoUnit) {
    // Consumers wait on two semaphores with short timeouts while producers
    // release; every unit released is taken exactly once.
    HANDLE s[] = {CreateSemaphoreW(nullptr, 0, 1 << 30, nullptr),
                  CreateSemaphoreW(nullptr, 0, 1 << 30, nullptr)};
    const int per_producer = kStressIterations / 20;
    std::atomic<int> taken{0};
    std::atomic<bool> producing{true};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] {
            for (;;) {
                DWORD r = WaitForMultipleObjects(2, s, FALSE, 1);
                if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1)
                    ++taken;
                else if (!producing.load())
                    return;
            }
        });
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < per_producer; ++i)
                ReleaseSemaphore(s[(i + p) % 2], 1, nullptr);
        });
    for (auto& t : producers)
        t.join();
    producing = false;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(taken.load(), 2 * per_producer);
    EXPECT_EQ(WaitForSingleObject(s[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(s[1], 0), WAIT_TIMEOUT);
    close_all({s[0], s[1]});
}

TEST(WaitAll, ConsumesAllObjectsTogether) {
    HANDLE e = auto_event(true);
    HANDLE s = CreateSemaphoreW(nullptr, 2, 2, nullptr);
    HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE handles[] = {e, s, m};
    EXPECT_EQ(WaitForMultipleObjects(3, handles, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(s, 1, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_TRUE(ReleaseMutex(m)) << "the wait-all made us the owner";
    close_all({e, s, m});
}

TEST(WaitAll, ConsumesNothingUntilTheLastObjectIsSignalled) {
    HANDLE a = auto_event(true), b = auto_event(false);
    HANDLE handles[] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 30), WAIT_TIMEOUT);
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result = WaitForMultipleObjects(2, handles, TRUE, INFINITE); });
    ASSERT_TRUE(await_waiters(b, 1));
    EXPECT_EQ(result.load(), 0xDEADu);
    SetEvent(b);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
    close_all({a, b});
}

TEST(WaitAll, CompetingWaitAnyTakesTheObjectFirst) {
    // A wait-any waiter on `a` and a wait-all waiter on {a, b}: signalling `a`
    // alone must go to the wait-any waiter and leave the wait-all one waiting.
    HANDLE a = auto_event(false), b = auto_event(false);
    HANDLE both[] = {a, b};
    std::atomic<DWORD> all_result{0xDEAD}, any_result{0xDEAD};
    std::thread all_waiter([&] { all_result = WaitForMultipleObjects(2, both, TRUE, INFINITE); });
    ASSERT_TRUE(await_waiters(a, 1));
    std::thread any_waiter([&] { any_result = WaitForSingleObject(a, INFINITE); });
    ASSERT_TRUE(await_waiters(a, 2));
    SetEvent(a);
    any_waiter.join();
    EXPECT_EQ(any_result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(all_result.load(), 0xDEADu);
    SetEvent(a);
    SetEvent(b);
    all_waiter.join();
    EXPECT_EQ(all_result.load(), WAIT_OBJECT_0);
    close_all({a, b});
}

TEST(WaitAll, OpposingMutexOrdersNeverDeadlock) {
    HANDLE m1 = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE m2 = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE forward[] = {m1, m2}, backward[] = {m2, m1};
    int counter = 0;
    const int per_thread = kStressIterations / 20;
    auto work = [&](HANDLE* handles) {
        for (int i = 0; i < per_thread; ++i) {
            ASSERT_EQ(WaitForMultipleObjects(2, handles, TRUE, INFINITE), WAIT_OBJECT_0);
            ++counter;
            ReleaseMutex(handles[0]);
            ReleaseMutex(handles[1]);
        }
    };
    std::thread a(work, forward), b(work, backward);
    a.join();
    b.join();
    EXPECT_EQ(counter, 2 * per_thread);
    close_all({m1, m2});
}

TEST(WaitAll, RacingWaitersNeitherLoseNorDuplicateUnits) {
    // A wait-all waiter on {s1, s2} races a single-object waiter on s1 while
    // producers release both. A wait-all that consumed s1 without s2 (or
    // returned without consuming both) breaks one of the two balances below.
    HANDLE s1 = CreateSemaphoreW(nullptr, 0, 1 << 30, nullptr);
    HANDLE s2 = CreateSemaphoreW(nullptr, 0, 1 << 30, nullptr);
    HANDLE both[] = {s1, s2};
    const int released = kStressIterations / 20;
    std::atomic<bool> producing{true};
    int taken_together = 0, taken_alone = 0;
    std::thread all_waiter([&] {
        for (;;) {
            DWORD r = WaitForMultipleObjects(2, both, TRUE, 1);
            if (r == WAIT_OBJECT_0)
                ++taken_together;
            else if (r != WAIT_TIMEOUT)
                ADD_FAILURE() << "wait-all returned " << r;
            else if (!producing.load())
                return;
        }
    });
    std::thread one_waiter([&] {
        for (;;) {
            DWORD r = WaitForSingleObject(s1, 1);
            if (r == WAIT_OBJECT_0)
                ++taken_alone;
            else if (r != WAIT_TIMEOUT)
                ADD_FAILURE() << "wait returned " << r;
            else if (!producing.load())
                return;
        }
    });
    std::thread producer([&] {
        for (int i = 0; i < released; ++i) {
            ReleaseSemaphore(s1, 1, nullptr);
            ReleaseSemaphore(s2, 1, nullptr);
        }
    });
    producer.join();
    producing = false;
    all_waiter.join();
    one_waiter.join();
    int left1 = 0, left2 = 0;
    while (WaitForSingleObject(s1, 0) == WAIT_OBJECT_0)
        ++left1;
    while (WaitForSingleObject(s2, 0) == WAIT_OBJECT_0)
        ++left2;
    EXPECT_EQ(taken_together + taken_alone + left1, released);
    EXPECT_EQ(taken_together + left2, released);
    close_all({s1, s2});
}

TEST(WaitMultiple, AnAbandonedMutexIsReportedWithItsIndex) {
    struct Case {
        BOOL wait_all;
        bool first_signalled;  // the manual event at index 0
        DWORD expected;
    } cases[] = {
        {FALSE, false, WAIT_ABANDONED_0 + 1},
        {FALSE, true, WAIT_OBJECT_0},  // the lowest index wins; the mutex stays abandoned
        {TRUE, true, WAIT_ABANDONED_0 + 1},
    };
    for (const Case& c : cases) {
        HANDLE event = CreateEventW(nullptr, TRUE, c.first_signalled, nullptr);
        HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
        std::thread([mutex] { WaitForSingleObject(mutex, 0); }).join();
        HANDLE handles[] = {event, mutex};
        EXPECT_EQ(WaitForMultipleObjects(2, handles, c.wait_all, 0), c.expected)
            << "wait_all " << c.wait_all << ", event " << c.first_signalled;
        if (c.expected == WAIT_OBJECT_0) {
            EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
        }
        EXPECT_TRUE(ReleaseMutex(mutex)) << "the wait made us the owner";
        close_all({event, mutex});
    }
}

TEST(WaitMultiple, RejectsBadArguments) {
    HANDLE e = auto_event(true);
    HANDLE many[65];
    for (HANDLE& h : many)
        h = e;
    struct Case {
        DWORD count;
        const HANDLE* handles;
        DWORD error;
    } cases[] = {
        {0, many, ERROR_INVALID_PARAMETER},
        {65, many, ERROR_INVALID_PARAMETER},
        {1, nullptr, ERROR_INVALID_PARAMETER},
        {2, many, ERROR_INVALID_PARAMETER},  // the same handle twice
    };
    for (BOOL all : {FALSE, TRUE}) {
        for (const Case& c : cases) {
            SetLastError(0);
            EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, all, 0), WAIT_FAILED) << c.count;
            EXPECT_EQ(GetLastError(), c.error);
        }
        HANDLE with_null[] = {e, nullptr};
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(2, with_null, all, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0) << "no failed wait consumed it";
    CloseHandle(e);
}

TEST(Timeout, ATimeoutTakesAboutItsTimeAndTheWaiterIsWithdrawn) {
    HANDLE e = auto_event(false);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(e, 60), WAIT_TIMEOUT);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(60));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_EQ(host::debug_waiter_count(e), 0u);
    SetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0) << "nobody stale consumed the signal";
    CloseHandle(e);
}

TEST(Handles, BadHandlesAreRefusedNotDereferenced) {
    HANDLE closed = auto_event(true);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE garbage[] = {nullptr,
                        closed,
                        reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)),
                        reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2)),
                        reinterpret_cast<HANDLE>(0x12345),
                        reinterpret_cast<HANDLE>(0x7fff00000004ull),
                        reinterpret_cast<HANDLE>(0x100000000004ull),
                        &garbage};
    for (HANDLE h : garbage) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(h)) << h;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED) << h;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetEvent(h));
        EXPECT_FALSE(ReleaseMutex(h));
        EXPECT_FALSE(ReleaseSemaphore(h, 1, nullptr));
    }
}

TEST(Handles, AReusedSlotDoesNotReviveAStaleHandle) {
    std::vector<HANDLE> stale;
    for (int i = 0; i < 2000; ++i) {
        HANDLE h = auto_event(false);
        stale.push_back(h);
        CloseHandle(h);
    }
    HANDLE live = auto_event(true);
    for (HANDLE h : stale)
        ASSERT_NE(h, live);
    for (HANDLE h : stale)
        ASSERT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(live, 0), WAIT_OBJECT_0);
    CloseHandle(live);
}

TEST(Handles, ClosingDuringAWaitLeavesTheWaiterSafe) {
    HANDLE e = auto_event(false);
    std::atomic<DWORD> result{0xDEAD};
    std::thread waiter([&] { result = WaitForSingleObject(e, 100); });
    ASSERT_TRUE(await_waiters(e, 1));
    ASSERT_TRUE(CloseHandle(e));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

TEST(Names, SameNameSameKindOpensTheSameObject) {
    const WCHAR* name = OLESTR("kes-test-event");
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventW(nullptr, FALSE, TRUE, name);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(first, second);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT)
        << "the flags of the second call are ignored";
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0) << "still the manual-reset event";

    SetLastError(0);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, name), nullptr) << "name taken by another kind";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE unnamed[] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                        CreateEventW(nullptr, TRUE, FALSE, OLESTR(""))};
    SetEvent(unnamed[0]);
    EXPECT_EQ(WaitForSingleObject(unnamed[1], 0), WAIT_TIMEOUT) << "unnamed objects are distinct";
    close_all({first, second, unnamed[0], unnamed[1]});
    HANDLE fresh = CreateSemaphoreW(nullptr, 0, 1, name);
    ASSERT_NE(fresh, nullptr) << "the name is free once its object is gone";
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(fresh);
}

}  // namespace
