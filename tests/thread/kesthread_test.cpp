// CKesThread: what runs, the interruptible sleep, forced stop of every kind of
// worker and restart, waiting, names, priorities, and the misuse reports.
#include <kes/thread/kesthread.h>

#include <host/thread.h>
#include <kes/sync/kesevent.h>

#include "console_capture.h"
#include "support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Expressions = std::vector<std::string>;
const char kFile[] = "kes/thread/kesthread";

// A worker that spins on `progress` until stopped.
std::function<void()> Spin(std::atomic<long>& progress) {
    return [&progress] {
        for (;;)
            progress.fetch_add(1, std::memory_order_relaxed);
    };
}

TEST(KesThread, ThreadBuiltWithoutRunnableRunsTheDerivedRunAndTheBaseRunDoesNothing) {
    struct Derived : CKesThread {
        std::atomic<bool> ran{false};
        void Run() override { ran = true; }
        ~Derived() override { Stop(); }
    } derived;
    derived.Start(0);
    derived.WaitFor(0);
    EXPECT_TRUE(derived.ran.load());
    CKesThread plain;
    plain.Start(0);
    plain.WaitFor(0);  // returns: the base Run returned at once
}

TEST(KesThread, WaitForZeroWaitsUntilRunReturnsAndIsNoMisuseFromAnotherThread) {
    ConsoleCapture console;
    std::atomic<bool> release{false};
    Work work([&] {
        while (!release.load())
            std::this_thread::sleep_for(milliseconds(1));
    });
    CKesThread thread(&work, nullptr);
    thread.WaitFor(0);  // not started: returns at once
    thread.Start(0);
    auto start = std::chrono::steady_clock::now();
    thread.WaitFor(30);
    EXPECT_GE(MillisecondsSince(start), 29.0);
    EXPECT_EQ(work.myReturns.load(), 0);
    std::thread releaser([&] {
        std::this_thread::sleep_for(milliseconds(20));
        release = true;
    });
    thread.WaitFor(0);
    EXPECT_EQ(work.myReturns.load(), 1);
    releaser.join();
    thread.Stop();
    thread.WaitFor(0);  // stopped
    EXPECT_EQ(console.Asserted(kFile), Expressions{});
}

TEST(KesThread, UntimedAndTimedSleepsLastUntilWakeup) {
    for (ULONG timeout : {0u, 20000u}) {
        SCOPED_TRACE(timeout);
        CKesThread* self = nullptr;
        Work work([&] { self->Sleep(timeout); });
        CKesThread thread(&work, nullptr);
        self = &thread;
        thread.Start(0);
        std::this_thread::sleep_for(milliseconds(100));
        EXPECT_EQ(work.myReturns.load(), 0);
        // A Wakeup before the worker sleeps is lost by design: repeat until one lands.
        EXPECT_TRUE(Eventually([&] {
            thread.Wakeup();
            return work.myReturns.load() == 1;
        }));
    }
}

TEST(KesThread, TimedSleepEndsAfterItsTimeAndAWakeupBeforeItIsNotRemembered) {
    CKesThread* self = nullptr;
    std::atomic<double> slept{0};
    Work work([&] {
        auto start = std::chrono::steady_clock::now();
        self->Sleep(50);
        slept = MillisecondsSince(start);
    });
    CKesThread thread(&work, nullptr);
    self = &thread;
    thread.Wakeup();  // nothing sleeps yet: forgotten
    thread.Start(0);
    thread.WaitFor(0);
    EXPECT_GE(slept.load(), 45.0);
    EXPECT_LT(slept.load(), 5000.0);
}

TEST(KesThread, StopEndsEveryKindOfWorkerAndTheThreadStartsAgain) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    CKesManualEvent never;
    CKesThread* self = nullptr;
    std::atomic<long> progress{0};
    std::atomic<bool> after{false};  // set only if a worker goes on past its block
    const std::pair<const char*, std::function<void()>> kinds[] = {
        {"spins", Spin(progress)},
        {"sleeps",
         [&] {
             self->Sleep(0);
             after = true;
         }},
        {"waits on a kernel object",
         [&] {
             never.Wait(INFINITE);
             after = true;
         }},
        {"sits in a system call",
         [&] {
             char byte;
             after = ::read(fds[0], &byte, 1) == 1;
         }},
    };
    for (const auto& [name, body] : kinds) {
        SCOPED_TRACE(name);
        std::atomic<bool> started{false};
        Work work([&] {
            started = true;
            body();
        });
        CKesThread thread(&work, nullptr);
        self = &thread;
        for (int start = 0; start < 2; ++start) {
            started = false;
            thread.Start(0);
            ASSERT_TRUE(Eventually([&] { return started.load(); }));
            std::this_thread::sleep_for(milliseconds(5));
            thread.Stop();
            EXPECT_TRUE(StaysStill(progress));
            EXPECT_EQ(thread.GetPriority(), -1);  // the handle is gone
        }
        EXPECT_EQ(work.myRuns.load(), 2);
        EXPECT_EQ(work.myReturns.load(), 0);
    }
    // What the stopped workers were blocked on never reaches them.
    never.Set();
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_FALSE(after.load());
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(KesThread, StopOfAThreadNotRunningDoesNothingAndWakeupOfAStoppedSleeperIsHarmless) {
    CKesThread thread;
    thread.Stop();
    thread.Wakeup();
    CKesThread* self = nullptr;
    Work work([&] { self->Sleep(0); });
    CKesThread sleeper(&work, nullptr);
    self = &sleeper;
    sleeper.Start(0);
    std::this_thread::sleep_for(milliseconds(10));
    sleeper.Stop();
    sleeper.Wakeup();
    sleeper.Stop();
    EXPECT_EQ(work.myReturns.load(), 0);
}

TEST(KesThread, DestroyingARunningThreadStopsItsWorker) {
    std::atomic<long> progress{0};
    Work work(Spin(progress));
    {
        CKesThread thread(&work, OLESTR("doomed"));
        thread.Start(0);
        ASSERT_TRUE(Eventually([&] { return progress.load() > 100; }));
    }
    EXPECT_TRUE(StaysStill(progress));
}

TEST(KesThread, WorkerThatStopsItselfEndsThereAndReleasesTheObject) {
    CKesThread* self = nullptr;
    std::atomic<bool> after{false};
    Work work([&] {
        self->Stop();
        after = true;
    });
    CKesThread thread(&work, nullptr);
    self = &thread;
    thread.Start(0);
    ASSERT_TRUE(Eventually([&] { return thread.GetPriority() == -1; }));
    thread.WaitFor(0);  // no worker set any more: returns at once
    EXPECT_FALSE(after.load());
    EXPECT_EQ(work.myReturns.load(), 0);
    thread.SetName(OLESTR("again"));  // the object's lock was not left held
    EXPECT_NE(thread.GetName(), nullptr);
}

// ---- Misuse: reported with the broken condition, then harmless ------------------------

TEST(KesThreadMisuse, SecondStartIsReportedStartsNothingAndKeepsTheWorkerStoppable) {
    ConsoleCapture console;
    std::atomic<long> progress{0};
    Work work(Spin(progress));
    CKesThread thread(&work, nullptr);
    thread.Start(0);
    ASSERT_TRUE(Eventually([&] { return work.myRuns.load() == 1; }));
    thread.Start(0);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(work.myRuns.load(), 1);
    EXPECT_EQ(console.Asserted(kFile), Expressions{"m_threadHandle == 0"});
    thread.Stop();
    EXPECT_TRUE(StaysStill(progress));
}

TEST(KesThreadMisuse, WorkerWaitingForItselfIsReportedAndReturnsAtOnce) {
    for (ULONG timeout : {0u, 60000u}) {
        SCOPED_TRACE(timeout);
        ConsoleCapture console;
        CKesThread* self = nullptr;
        std::atomic<double> waited{-1};
        Work work([&] {
            auto start = std::chrono::steady_clock::now();
            self->WaitFor(timeout);
            waited = MillisecondsSince(start);
        });
        CKesThread thread(&work, nullptr);
        self = &thread;
        thread.Start(0);
        ASSERT_TRUE(Eventually([&] { return work.myReturns.load() == 1; }));
        EXPECT_LT(waited.load(), 5000.0);  // neither for ever nor for the time asked
        EXPECT_EQ(console.Asserted(kFile), Expressions{"::GetCurrentThreadId() != m_threadId"});
        thread.Stop();
    }
}

TEST(KesThreadMisuse, SleepFromAnotherThreadIsReportedAndStillSleeps) {
    ConsoleCapture console;
    CKesThread thread;  // never started: no thread is its worker
    auto start = std::chrono::steady_clock::now();
    thread.Sleep(20);
    EXPECT_GE(MillisecondsSince(start), 15.0);
    EXPECT_EQ(console.Asserted(kFile), Expressions{"::GetCurrentThreadId() == m_threadId"});
}

TEST(KesThreadMisuse, SleepWhileTheWorkerSleepsIsReportedTwice) {
    ConsoleCapture console;
    CKesThread* self = nullptr;
    std::atomic<bool> finish{false};
    Work work([&] {
        while (!finish.load())
            self->Sleep(20);
    });
    CKesThread thread(&work, nullptr);
    self = &thread;
    thread.Start(0);
    auto reported = [&] {
        Expressions all = console.Asserted(kFile);
        return std::set<std::string>(all.begin(), all.end());
    };
    // Intrude until one intruding Sleep overlaps one of the worker's.
    ASSERT_TRUE(Eventually([&] {
        thread.Sleep(1);
        return reported().count("m_sleeperHandle == 0") == 1;
    }));
    EXPECT_EQ(reported(), (std::set<std::string>{"::GetCurrentThreadId() == m_threadId",
                                                 "m_sleeperHandle == 0"}));
    finish = true;
    thread.WaitFor(0);  // the worker's own sleeps still end in their time
    EXPECT_EQ(work.myReturns.load(), 1);
    thread.Stop();
}

// GetPriority reads the handle, then asks the host; a Stop in between must read
// as "not started" (-1), never as the host's error value.
TEST(KesThreadMisuse, PriorityReadDuringAStopIsTheLevelOrMinusOne) {
    for (int round = 0; round < kStopRounds; ++round) {
        std::atomic<long> progress{0};
        Work work(Spin(progress));
        CKesThread thread(&work, nullptr);
        thread.Start(0);
        std::atomic<bool> done{false};
        std::atomic<int> wrong{0};
        std::thread reader([&] {
            while (!done.load()) {
                int priority = thread.GetPriority();
                if (priority != -1 && priority != THREAD_PRIORITY_NORMAL)
                    wrong = priority;
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        thread.Stop();
        done = true;
        reader.join();
        ASSERT_EQ(wrong.load(), 0) << "round " << round;
    }
}

// ---- Names, priorities, stack -------------------------------------------------------------

std::basic_string<unsigned short> Text(const unsigned short* name) {
    return name == nullptr ? std::basic_string<unsigned short>() : name;
}

TEST(KesThread, NamesAreCopiesAndMayBeNull) {
    unsigned short name[] = {'w', 'o', 'r', 'k', 0};
    CKesThread thread(name);
    name[0] = 'j';
    EXPECT_EQ(Text(thread.GetName()), Text(OLESTR("work")));
    thread.SetName(thread.GetName());  // the very pointer it handed out
    EXPECT_EQ(Text(thread.GetName()), Text(OLESTR("work")));
    thread.SetName(nullptr);
    EXPECT_EQ(thread.GetName(), nullptr);
    thread.SetName(OLESTR(""));
    ASSERT_NE(thread.GetName(), nullptr);
    EXPECT_EQ(thread.GetName()[0], 0);
    Work work([] {});
    EXPECT_EQ(CKesThread(&work, nullptr).GetName(), nullptr);
}

TEST(KesThread, PrioritiesRoundTripWhileStartedAndAreMinusOneBefore) {
    std::atomic<bool> release{false};
    Work work([&] {
        while (!release.load())
            std::this_thread::sleep_for(milliseconds(1));
    });
    CKesThread thread(&work, nullptr);
    EXPECT_EQ(thread.GetPriority(), -1);
    EXPECT_FALSE(thread.SetPriority(CKesThread::PRIORITY_HIGH));
    thread.Start(0);
    EXPECT_EQ(thread.GetPriority(), static_cast<int>(CKesThread::PRIORITY_NORMAL));
    for (ULONG level :
         {CKesThread::PRIORITY_HIGHEST, CKesThread::PRIORITY_VERY_HIGH, CKesThread::PRIORITY_HIGH,
          CKesThread::PRIORITY_NORMAL, CKesThread::PRIORITY_LOW, CKesThread::PRIORITY_VERY_LOW,
          CKesThread::PRIORITY_IDLE}) {
        EXPECT_TRUE(thread.SetPriority(static_cast<int>(level)));
        EXPECT_EQ(thread.GetPriority(), static_cast<int>(level));
    }
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_IDLE), -15);
    EXPECT_FALSE(thread.SetPriority(7));  // not a host level
    EXPECT_EQ(thread.GetPriority(), -15);
    release = true;
    thread.WaitFor(0);
    // Run has returned but the worker is still set until Stop.
    EXPECT_TRUE(thread.SetPriority(CKesThread::PRIORITY_HIGH));
    EXPECT_EQ(thread.GetPriority(), 1);
    thread.Stop();
    EXPECT_EQ(thread.GetPriority(), -1);
    EXPECT_FALSE(thread.SetPriority(CKesThread::PRIORITY_HIGH));
}

TEST(KesThread, StackSizeIsHonouredForDeepWork) {
    std::atomic<bool> done{false};
    Work work([&] {
        volatile char block[2 * 1024 * 1024];  // half of the 4 MiB asked for
        block[0] = 1;
        block[sizeof block - 1] = 1;
        done = block[0] == 1;
    });
    CKesThread thread(&work, nullptr);
    thread.Start(4 * 1024 * 1024);
    thread.WaitFor(0);
    EXPECT_TRUE(done.load());
}

}  // namespace
