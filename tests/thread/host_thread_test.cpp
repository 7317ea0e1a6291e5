// The host's threads: creation, waitable handles, exit codes, forced stop and
// what it leaves behind, priorities and Sleep. CKesThread's tests stop the
// common kinds of worker (spinning, waiting, reading); these add what only the
// host layer shows.
#include <host/internal/futex.h>
#include <host/sync.h>
#include <host/thread.h>

#include "support.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>

namespace {

// What a worker shares with the test; `after` is set only by code that runs
// once the worker's blocking step has ended, which a stopped worker never does.
struct Worker {
    std::atomic<long> progress{0};
    std::atomic<bool> ready{false};
    std::atomic<bool> release{false};
    std::atomic<bool> after{false};
    std::atomic<DWORD> seen_id{0};
    HANDLE object = nullptr;
};

DWORD ParkThenReturn42(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    worker->seen_id = GetCurrentThreadId();
    while (!worker->release.load())
        Sleep(1);
    return 42;
}

DWORD SpinOnAtomic(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    worker->ready = true;
    for (;;)
        worker->progress.fetch_add(1, std::memory_order_relaxed);
}

DWORD SleepLong(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    worker->ready = true;
    Sleep(60000);
    worker->after = true;
    return 0;
}

DWORD WaitOnObject(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    worker->ready = true;
    WaitForSingleObject(worker->object, INFINITE);
    worker->after = true;
    return 0;
}

HANDLE StartWorker(LPTHREAD_START_ROUTINE routine, Worker& worker) {
    HANDLE thread = CreateThread(nullptr, 0, routine, &worker, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    EXPECT_TRUE(Eventually([&] { return worker.ready.load(); }));
    return thread;
}

void ExpectStopped(HANDLE thread, DWORD code) {
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD exit_code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exit_code));
    EXPECT_EQ(exit_code, code);
}

TEST(CreateThread, IdIsWrittenFirstAndTheHandleIsSignalledAtTheEndWithTheExitCode) {
    DWORD id = 0;
    Worker worker;
    HANDLE thread = CreateThread(nullptr, 256 * 1024, ParkThenReturn42, &worker, 0, &id);
    ASSERT_NE(thread, nullptr);
    // Written by the new thread before its start routine runs, so before the return.
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    worker.release = true;
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // an end is not consumed
    EXPECT_EQ(worker.seen_id.load(), id);
    // A thread that has returned keeps its own exit code, even when stopped.
    EXPECT_TRUE(TerminateThread(thread, 9));
    ExpectStopped(thread, 42);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(CreateThread, RefusesBadArgumentsAndTheFunctionsRefuseOtherHandles) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateThread(nullptr, 0, SleepLong, nullptr, CREATE_SUSPENDED, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD code = 0;
    EXPECT_FALSE(TerminateThread(event, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_FALSE(SetThreadPriority(event, THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(GetThreadPriority(event), THREAD_PRIORITY_ERROR_RETURN);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

// ---- Forced stop --------------------------------------------------------------------

DWORD SpinWithoutSynchronisation(LPVOID parameter) {
    static_cast<Worker*>(parameter)->ready = true;
    for (;;)
        asm volatile("" ::: "memory");
}

// Busy in plain code (no calls, no atomics) for a while, then asleep on a futex
// word that is never set. A stop sent during the busy part finds the thread
// outside any call, where the thread sanitizer holds the signal back; the
// sleep that follows must not keep it held for ever.
DWORD BusyThenSleepOnAFutex(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    std::atomic<std::uint32_t> never{0};
    worker->ready = true;
    for (long i = 0; i < 200 * 1000 * 1000; ++i)
        asm volatile("" ::: "memory");
    do
        host::futex::wait(never, 0, nullptr);
    while (never.load() == 0);
    worker->after = true;
    return 0;
}

DWORD OwnMutexThenSpin(LPVOID parameter) {
    WaitForSingleObject(static_cast<Worker*>(parameter)->object, INFINITE);
    return SpinOnAtomic(parameter);
}

struct StopCase {
    const char* name;
    LPTHREAD_START_ROUTINE routine;
};

class StopsAThreadThat : public ::testing::TestWithParam<StopCase> {};

// The worker's object is an auto-reset event, or for the mutex owner the mutex.
// After the stop: the thread's exit code is the stopper's, the worker runs no
// further, its wait is withdrawn and the next signal is not lost with it, and
// its mutex is abandoned.
TEST_P(StopsAThreadThat, RunsNoFurtherAndLosesNoSignal) {
    const StopCase& c = GetParam();
    const bool owns_mutex = c.routine == OwnMutexThenSpin;
#ifdef KES_THREAD_TSAN
    if (c.routine == SpinWithoutSynchronisation)
        GTEST_SKIP() << "the thread sanitizer delivers signals only at its own safe points "
                        "(atomics, intercepted calls); a loop without any cannot be stopped "
                        "under it (docs/threads.md)";
#endif
    Worker worker;
    worker.object = owns_mutex ? CreateMutexW(nullptr, FALSE, nullptr)
                               : CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = StartWorker(c.routine, worker);
    if (c.routine == WaitOnObject)
        ASSERT_TRUE(AwaitWaiters(worker.object, 1));
    else if (c.routine != BusyThenSleepOnAFutex)  // that one is stopped at once
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(TerminateThread(thread, 3));
    EXPECT_LT(MillisecondsSince(start), 5000.0);
    ExpectStopped(thread, 3);
    EXPECT_TRUE(StaysStill(worker.progress));
    EXPECT_EQ(host::debug_waiter_count(worker.object), 0u);
    if (owns_mutex) {
        EXPECT_EQ(WaitForSingleObject(worker.object, 1000), WAIT_ABANDONED);
        EXPECT_TRUE(ReleaseMutex(worker.object));
    } else {
        SetEvent(worker.object);
        EXPECT_EQ(WaitForSingleObject(worker.object, 0), WAIT_OBJECT_0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(worker.after.load());
    CloseHandle(thread);
    CloseHandle(worker.object);
}

const StopCase kStopCases[] = {
    {"SleepsInHostSleep", SleepLong},
    {"SpinsInPlainCode", SpinWithoutSynchronisation},
    {"WaitsOnAnAutoResetEvent", WaitOnObject},
    {"GoesToSleepJustAfterTheStopWasSent", BusyThenSleepOnAFutex},
    {"OwnsAMutex", OwnMutexThenSpin},
};

INSTANTIATE_TEST_SUITE_P(TerminateThread, StopsAThreadThat, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Works the host's internal locks (an event's lock, handle look-ups) without
// allocating (a thread stopped inside the heap would keep its lock), so that
// stops land inside those regions too.
DWORD HammerEvent(LPVOID parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    worker->ready = true;
    for (;;) {
        SetEvent(worker->object);
        WaitForSingleObject(worker->object, 0);
        ResetEvent(worker->object);
        worker->progress.fetch_add(1, std::memory_order_relaxed);
    }
}

TEST(TerminateThread, StopsInsideHostRegionsNeverLeaveAnObjectLocked) {
    // Stays open to the end: a stopped thread's look-up reference is never given back.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int round = 0; round < kStopRounds; ++round) {
        Worker worker;
        worker.object = event;
        HANDLE thread = StartWorker(HammerEvent, worker);
        ASSERT_TRUE(Eventually([&] { return worker.progress.load() > round % 7; }));
        ASSERT_TRUE(TerminateThread(thread, 0));
        ASSERT_TRUE(SetEvent(event));
        ASSERT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
        ASSERT_TRUE(ResetEvent(event));
        ASSERT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        CloseHandle(thread);
    }
    CloseHandle(event);
}

TEST(TerminateThread, SecondStopperWaitsUntilTheThreadIsGone) {
    for (int round = 0; round < 20; ++round) {
        Worker worker;
        HANDLE thread = StartWorker(SpinOnAtomic, worker);
        auto stop = [&] {
            EXPECT_TRUE(TerminateThread(thread, 6));
            EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
        };
        std::thread a(stop), b(stop);
        a.join();
        b.join();
        ExpectStopped(thread, 6);
        EXPECT_TRUE(StaysStill(worker.progress));
        CloseHandle(thread);
    }
}

struct KeyCheck {
    pthread_key_t key;
    std::atomic<bool> ready{false};
    std::atomic<int> inherited{0};  // 1: the key was clean, 2: it held a dead thread's value
};

DWORD SetKeyThenSpin(LPVOID parameter) {
    auto* check = static_cast<KeyCheck*>(parameter);
    pthread_setspecific(check->key, check);
    check->ready = true;
    for (;;)
        Sleep(1);
}

DWORD ReadKey(LPVOID parameter) {
    auto* check = static_cast<KeyCheck*>(parameter);
    check->inherited = pthread_getspecific(check->key) == nullptr ? 1 : 2;
    return 0;
}

// The C library hands a stopped thread's stack, where key values live, to
// later threads; the values must not come with it.
TEST(TerminateThread, NewThreadsNeverInheritAStoppedThreadsKeyValues) {
    KeyCheck check;
    ASSERT_EQ(pthread_key_create(&check.key, nullptr), 0);
    for (int round = 0; round < 20; ++round) {
        check.ready = false;
        HANDLE stopped = CreateThread(nullptr, 0, SetKeyThenSpin, &check, 0, nullptr);
        ASSERT_TRUE(Eventually([&] { return check.ready.load(); }));
        ASSERT_TRUE(TerminateThread(stopped, 0));
        CloseHandle(stopped);
        HANDLE reader = CreateThread(nullptr, 0, ReadKey, &check, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(reader, 10000), WAIT_OBJECT_0);
        CloseHandle(reader);
        ASSERT_EQ(check.inherited.load(), 1) << "round " << round;
    }
    pthread_key_delete(check.key);
}

struct SelfEnd {
    HANDLE own = nullptr;
    std::atomic<bool> has_handle{false};
    std::atomic<bool> after{false};
    bool use_exit_thread = false;
};

DWORD EndSelf(LPVOID parameter) {
    auto* self = static_cast<SelfEnd*>(parameter);
    while (!self->has_handle.load())
        Sleep(1);
    if (self->use_exit_thread)
        ExitThread(11);
    TerminateThread(self->own, 12);
    self->after = true;
    return 0;
}

TEST(TerminateThread, OnItsOwnHandleOrByExitThreadAThreadEndsWithTheGivenCode) {
    for (bool use_exit_thread : {false, true}) {
        SCOPED_TRACE(use_exit_thread ? "ExitThread" : "TerminateThread");
        SelfEnd self;
        self.use_exit_thread = use_exit_thread;
        self.own = CreateThread(nullptr, 0, EndSelf, &self, 0, nullptr);
        self.has_handle = true;
        ASSERT_EQ(WaitForSingleObject(self.own, 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeThread(self.own, &code);
        EXPECT_EQ(code, use_exit_thread ? 11u : 12u);
        EXPECT_FALSE(self.after.load());
        CloseHandle(self.own);
    }
}

// ---- Priorities and Sleep -----------------------------------------------------------

int NiceOf(DWORD tid) {
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

// Whether this process may lower a thread's nice value (CAP_SYS_NICE or a
// large RLIMIT_NICE), tried on a scratch thread.
bool MayRaisePriority() {
    bool allowed = false;
    std::thread probe([&] {
        int base = getpriority(PRIO_PROCESS, 0);
        allowed =
            setpriority(PRIO_PROCESS, 0, base + 1) == 0 && setpriority(PRIO_PROCESS, 0, base) == 0;
    });
    probe.join();
    return allowed;
}

TEST(ThreadPriority, EveryLevelRoundTripsAndIsAppliedAsItsNiceOffset) {
    struct Level {
        int level, nice_offset;
        bool needs_privilege;
    };
    const Level levels[] = {
        {THREAD_PRIORITY_LOWEST, 10, false},  {THREAD_PRIORITY_BELOW_NORMAL, 5, false},
        {THREAD_PRIORITY_NORMAL, 0, true},    {THREAD_PRIORITY_ABOVE_NORMAL, -5, true},
        {THREAD_PRIORITY_HIGHEST, -10, true}, {THREAD_PRIORITY_TIME_CRITICAL, -20, true},
    };
    const bool privileged = MayRaisePriority();
    Worker parked;
    HANDLE thread = CreateThread(nullptr, 0, ParkThenReturn42, &parked, 0, nullptr);
    ASSERT_TRUE(Eventually([&] { return parked.seen_id.load() != 0; }));
    const DWORD tid = parked.seen_id.load();
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    const int base = NiceOf(tid);
    for (const Level& level : levels) {
        SCOPED_TRACE(level.level);
        int before = NiceOf(tid);
        ASSERT_TRUE(SetThreadPriority(thread, level.level));
        EXPECT_EQ(GetThreadPriority(thread), level.level);
        int expected = std::max(-20, std::min(19, base + level.nice_offset));
        if (level.needs_privilege && !privileged && expected < before)
            expected = before;  // refused: the old nice value stays
        EXPECT_EQ(NiceOf(tid), expected);
    }
    ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_IDLE));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_IDLE);
    EXPECT_EQ(sched_getscheduler(static_cast<pid_t>(tid)), SCHED_IDLE);
    if (privileged) {
        ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
        EXPECT_EQ(sched_getscheduler(static_cast<pid_t>(tid)), SCHED_OTHER);
        EXPECT_EQ(NiceOf(tid), base);
    }
    // Not a level: refused, and the recorded level stays.
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    for (int bad : {3, -3, 16, -16, 0x10000, THREAD_PRIORITY_ERROR_RETURN}) {
        SetLastError(0);
        EXPECT_FALSE(SetThreadPriority(thread, bad)) << bad;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_LOWEST);
    }
    parked.release = true;
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));  // ended: still recorded
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST);
    CloseHandle(thread);
}

TEST(HostSleep, SleepsAtLeastTheTimeGivenAndZeroOnlyYields) {
    auto start = std::chrono::steady_clock::now();
    Sleep(50);
    EXPECT_GE(MillisecondsSince(start), 49.5);
    EXPECT_LT(MillisecondsSince(start), 2000.0);
    start = std::chrono::steady_clock::now();
    Sleep(0);
    EXPECT_LT(MillisecondsSince(start), 1000.0);
}

}  // namespace
