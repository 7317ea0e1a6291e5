// CKesThread: what runs, the interruptible sleep, forced stop of every kind
// of worker and restart, waiting, names and priorities.
#include <kes/thread/kesthread.h>

#include <host/sync.h>
#include <host/thread.h>
#include <kes/sync/kesevent.h>

#include "support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

// A runnable that runs a function given by the test.
class Work : public IRunnable {
  public:
    explicit Work(std::function<void()> theBody) : myBody(std::move(theBody)) {}
    void Run() override {
        ++myRuns;
        myBody();
        ++myReturns;
    }
    std::atomic<int> myRuns{0};
    std::atomic<int> myReturns{0};

  private:
    std::function<void()> myBody;
};

TEST(KesThread, ThreadBuiltWithoutRunnableRunsTheDerivedRunAndTheBaseRunDoesNothing) {
    struct Derived : CKesThread {
        std::atomic<bool> ran{false};
        void Run() override { ran = true; }
        ~Derived() override { Stop(); }
    } derived;
    derived.Start(0);
    derived.WaitFor(0);
    EXPECT_TRUE(derived.ran.load());

    CKesThread plain;  // its own Run returns at once
    plain.Start(0);
    plain.WaitFor(0);  // returns: Run has returned
    SUCCEED();
}

TEST(KesThread, WaitForZeroWaitsUntilRunReturnsAndReturnsAtOnceWhenNeverStarted) {
    std::atomic<bool> release{false};
    Work work([&] {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    CKesThread thread(&work, nullptr);
    thread.WaitFor(0);  // not started
    thread.Start(0);
    auto start = std::chrono::steady_clock::now();
    thread.WaitFor(30);
    EXPECT_GE(MillisecondsSince(start), 29.0);
    EXPECT_EQ(work.myReturns.load(), 0);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release = true;
    });
    thread.WaitFor(0);
    EXPECT_EQ(work.myReturns.load(), 1);
    releaser.join();
}

TEST(KesThread, WaitForCalledByTheWorkerOnItselfReturnsAtOnce) {
    CKesThread* self = nullptr;
    std::atomic<bool> returned{false};
    Work work([&] {
        self->WaitFor(0);  // asserts, then must not wait for itself
        returned = true;
    });
    CKesThread thread(&work, nullptr);
    self = &thread;
    thread.Start(0);
    EXPECT_TRUE(Eventually([&] { return returned.load(); }));
}

// ---- Sleep and Wakeup -----------------------------------------------------------------

TEST(KesThread, SleepZeroLastsUntilWakeup) {
    CKesThread* self = nullptr;
    std::atomic<bool> woke{false};
    Work work([&] {
        self->Sleep(0);
        woke = true;
    });
    CKesThread thread(&work, nullptr);
    self = &thread;
    thread.Start(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(woke.load());
    // Wakeup may come before the worker has entered its sleep; then it is
    // lost by design, so repeat until it lands.
    EXPECT_TRUE(Eventually([&] {
        thread.Wakeup();
        return woke.load();
    }));
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

TEST(KesThread, WakeupEndsATimedSleepEarly) {
    CKesThread* self = nullptr;
    std::atomic<bool> sleeping{false};
    std::atomic<double> slept{0};
    Work work([&] {
        sleeping = true;
        auto start = std::chrono::steady_clock::now();
        self->Sleep(20000);
        slept = MillisecondsSince(start);
    });
    CKesThread thread(&work, nullptr);
    self = &thread;
    thread.Start(0);
    ASSERT_TRUE(Eventually([&] { return sleeping.load(); }));
    ASSERT_TRUE(Eventually([&] {
        thread.Wakeup();
        return work.myReturns.load() == 1;
    }));
    EXPECT_LT(slept.load(), 10000.0);
}

// ---- Forced stop ------------------------------------------------------------------------

TEST(KesThread, StopEndsEveryKindOfWorkerAndTheThreadStartsAgain) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    CKesManualEvent never;
    CKesThread* self = nullptr;
    std::atomic<long> progress{0};
    std::atomic<bool> after{false};  // set only if the worker goes on past its block
    struct Kind {
        const char* name;
        std::function<void()> body;
    };
    const Kind kinds[] = {
        {"spins",
         [&] {
             for (;;)
                 progress.fetch_add(1, std::memory_order_relaxed);
         }},
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
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        std::atomic<bool> started{false};
        Work work([&] {
            started = true;
            kind.body();
        });
        CKesThread thread(&work, nullptr);
        self = &thread;
        for (int start = 0; start < 2; ++start) {
            started = false;
            thread.Start(0);
            ASSERT_TRUE(Eventually([&] { return started.load(); }));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            thread.Stop();
            // No more of Run: no progress, nothing after the blocking step,
            // and the thread's handle is gone.
            EXPECT_TRUE(StaysStill(progress));
            EXPECT_EQ(thread.GetPriority(), -1);
        }
        EXPECT_EQ(work.myRuns.load(), 2);
        EXPECT_EQ(work.myReturns.load(), 0);
    }
    // What the stopped workers were blocked on never reaches them.
    never.Set();
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sleeper.Stop();
    sleeper.Wakeup();
    sleeper.Stop();
    EXPECT_EQ(work.myReturns.load(), 0);
}

TEST(KesThread, DestroyingARunningThreadStopsItsWorker) {
    std::atomic<long> progress{0};
    Work work([&] {
        for (;;)
            progress.fetch_add(1, std::memory_order_relaxed);
    });
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
    // The object's lock was not left held: it can be used and started again.
    thread.SetName(OLESTR("again"));
    EXPECT_NE(thread.GetName(), nullptr);
}

TEST(KesThread, SecondStartWhileRunningStartsNothingAndKeepsTheWorkerStoppable) {
    std::atomic<long> progress{0};
    Work work([&] {
        for (;;)
            progress.fetch_add(1, std::memory_order_relaxed);
    });
    CKesThread thread(&work, nullptr);
    thread.Start(0);
    ASSERT_TRUE(Eventually([&] { return work.myRuns.load() == 1; }));
    thread.Start(0);  // asserts
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(work.myRuns.load(), 1);
    thread.Stop();
    EXPECT_TRUE(StaysStill(progress));
}

// ---- Names and priorities -------------------------------------------------------------------

std::basic_string<unsigned short> Text(const unsigned short* name) {
    return name == nullptr ? std::basic_string<unsigned short>() : name;
}

TEST(KesThread, NamesAreCopiesAndMayBeNull) {
    unsigned short name[] = {'w', 'o', 'r', 'k', 0};
    CKesThread thread(name);
    name[0] = 'j';  // the thread kept its own copy
    EXPECT_EQ(Text(thread.GetName()), Text(OLESTR("work")));
    EXPECT_NE(thread.GetName(), name);

    thread.SetName(thread.GetName());  // the very pointer it handed out
    EXPECT_EQ(Text(thread.GetName()), Text(OLESTR("work")));
    thread.SetName(nullptr);
    EXPECT_EQ(thread.GetName(), nullptr);
    thread.SetName(OLESTR(""));
    ASSERT_NE(thread.GetName(), nullptr);
    EXPECT_EQ(thread.GetName()[0], 0);

    Work work([] {});
    CKesThread unnamed(&work, nullptr);
    EXPECT_EQ(unnamed.GetName(), nullptr);
}

TEST(KesThread, PrioritiesRoundTripWhileStartedAndAreMinusOneBefore) {
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_HIGHEST), 15);
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_VERY_HIGH), 2);
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_HIGH), 1);
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_NORMAL), 0);
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_LOW), -1);
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_VERY_LOW), -2);
    EXPECT_EQ(static_cast<int>(CKesThread::PRIORITY_IDLE), -15);

    std::atomic<bool> release{false};
    Work work([&] {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    CKesThread thread(&work, nullptr);
    EXPECT_EQ(thread.GetPriority(), -1);
    EXPECT_EQ(thread.GetPriority(), static_cast<int>(CKesThread::PRIORITY_LOW));
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
    EXPECT_FALSE(thread.SetPriority(7));  // not a host level
    EXPECT_EQ(thread.GetPriority(), static_cast<int>(CKesThread::PRIORITY_IDLE));
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
    // 4 MiB of stack for a worker that uses 2 MiB of it.
    std::atomic<bool> done{false};
    Work work([&] {
        volatile char block[2 * 1024 * 1024];
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
