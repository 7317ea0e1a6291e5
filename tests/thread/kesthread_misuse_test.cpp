// CKesThread misuse: each caller error is reported as an assertion with the
// condition it broke, and the call then carries on without harm (the worker
// waiting for itself returns at once, a second Start starts nothing).
#include <kes/thread/kesthread.h>

#include <host/thread.h>

#include "console_capture.h"
#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kFile[] = "kes/thread/kesthread";

class Work : public IRunnable {
  public:
    explicit Work(std::function<void()> theBody) : myBody(std::move(theBody)) {}
    void Run() override {
        myBody();
        ++myReturns;
    }
    std::atomic<int> myReturns{0};

  private:
    std::function<void()> myBody;
};

using Expressions = std::vector<std::string>;

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
        // Neither for ever nor for the time asked: at once (bound generous).
        EXPECT_LT(waited.load(), 5000.0);
        EXPECT_EQ(console.Asserted(kFile), Expressions{"::GetCurrentThreadId() != m_threadId"});
        thread.Stop();
    }
}

TEST(KesThreadMisuse, WaitingFromAnotherThreadIsNoMisuse) {
    ConsoleCapture console;
    Work work([] {});
    CKesThread thread(&work, nullptr);
    thread.WaitFor(0);  // never started
    thread.Start(0);
    thread.WaitFor(0);
    thread.Stop();
    thread.WaitFor(0);  // stopped
    EXPECT_EQ(console.Asserted(kFile), Expressions{});
}

TEST(KesThreadMisuse, SecondStartIsReportedAndStartsNothing) {
    ConsoleCapture console;
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    Work work([&] {
        ++runs;
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    CKesThread thread(&work, nullptr);
    thread.Start(0);
    thread.Start(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(console.Asserted(kFile), Expressions{"m_threadHandle == 0"});
    release = true;
    thread.WaitFor(0);
    EXPECT_EQ(work.myReturns.load(), 1);
    thread.Stop();
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
    // An intruding Sleep that comes between two of the worker's finds none
    // in progress; try until one overlaps a Sleep of the worker.
    ASSERT_TRUE(Eventually([&] {
        thread.Sleep(1);
        for (const std::string& expression : console.Asserted(kFile)) {
            if (expression == "m_sleeperHandle == 0")
                return true;
        }
        return false;
    }));
    // Every intrusion is reported as a Sleep off the worker; the overlap as a
    // second Sleep in progress (by whichever of the two came second).
    std::set<std::string> reported;
    for (const std::string& expression : console.Asserted(kFile))
        reported.insert(expression);
    EXPECT_EQ(reported, (std::set<std::string>{"::GetCurrentThreadId() == m_threadId",
                                               "m_sleeperHandle == 0"}));
    finish = true;
    thread.WaitFor(0);  // the worker's own sleeps still end in their time
    EXPECT_EQ(work.myReturns.load(), 1);
    thread.Stop();
}

// GetPriority reads the handle and then asks the host; a Stop in between
// must read as "not started" (-1), never as the host's error value.
TEST(KesThreadMisuse, PriorityReadDuringAStopIsTheLevelOrMinusOne) {
    for (int round = 0; round < kStopRounds; ++round) {
        std::atomic<long> progress{0};
        Work work([&] {
            for (;;)
                progress.fetch_add(1, std::memory_order_relaxed);
        });
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

}  // namespace
