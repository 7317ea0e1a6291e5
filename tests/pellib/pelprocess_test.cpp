// The interrupt-context flag: per thread, nestable, and usable from inside a
// real signal handler.
#include <pellib/pelprocess.h>

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

namespace {

TEST(InterruptContext, OffUnlessTheThreadMarksItself) {
    EXPECT_FALSE(PelProcessBC::isInterruptContext());
    PelProcessBC::setInterruptContext(true);
    EXPECT_TRUE(PelProcessBC::isInterruptContext());
    PelProcessBC::setInterruptContext(false);
    EXPECT_FALSE(PelProcessBC::isInterruptContext());
}

TEST(InterruptContext, TheMarkBelongsToOneThread) {
    PelInterruptContextScope scope;
    bool other = true;
    std::thread([&] { other = PelProcessBC::isInterruptContext(); }).join();
    EXPECT_FALSE(other);
    EXPECT_TRUE(PelProcessBC::isInterruptContext());
}

TEST(InterruptContext, ScopesNestAndRestoreWhatTheyFound) {
    {
        PelInterruptContextScope outer;
        {
            PelInterruptContextScope inner;
            EXPECT_TRUE(PelProcessBC::isInterruptContext());
        }
        EXPECT_TRUE(PelProcessBC::isInterruptContext());  // the outer mark survives
    }
    EXPECT_FALSE(PelProcessBC::isInterruptContext());
}

// What the handler saw: bit 0 before its scope, bit 1 inside, bit 2 after.
std::atomic<int> gSeen{-1};

void RecordingHandler(int) {
    int seen = PelProcessBC::isInterruptContext() ? 1 : 0;
    {
        PelInterruptContextScope scope;
        if (PelProcessBC::isInterruptContext())
            seen |= 2;
    }
    if (PelProcessBC::isInterruptContext())
        seen |= 4;
    gSeen.store(seen);
}

class SignalHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        struct sigaction action {};
        action.sa_handler = RecordingHandler;
        sigemptyset(&action.sa_mask);
        ASSERT_EQ(sigaction(SIGUSR1, &action, &m_Previous), 0);
        gSeen.store(-1);
    }
    void TearDown() override { sigaction(SIGUSR1, &m_Previous, nullptr); }

  private:
    struct sigaction m_Previous {};
};

TEST_F(SignalHandlerTest, HandlerMarksItselfAndLeavesTheThreadAsItWas) {
    for (int i = 0; i < 100; ++i) {
        gSeen.store(-1);
        ASSERT_EQ(raise(SIGUSR1), 0);  // delivered before raise returns
        EXPECT_EQ(gSeen.load(), 2);
        EXPECT_FALSE(PelProcessBC::isInterruptContext());
    }
}

TEST_F(SignalHandlerTest, HandlerOnAMarkedThreadSeesTheMarkAndRestoresIt) {
    PelInterruptContextScope scope;
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_EQ(gSeen.load(), 1 | 2 | 4);
    EXPECT_TRUE(PelProcessBC::isInterruptContext());
}

TEST_F(SignalHandlerTest, HandlerOnAnotherThreadDoesNotDisturbTheFlagThere) {
    std::atomic<bool> ready{false}, stop{false};
    std::atomic<int> violations{0};
    std::thread worker([&] {
        ready.store(true);
        while (!stop.load()) {
            if (PelProcessBC::isInterruptContext())
                violations.fetch_add(1);
        }
    });
    while (!ready.load())
        std::this_thread::yield();
    for (int i = 0; i < 50; ++i) {
        gSeen.store(-1);
        ASSERT_EQ(pthread_kill(worker.native_handle(), SIGUSR1), 0);
        while (gSeen.load() == -1)
            std::this_thread::yield();
        EXPECT_EQ(gSeen.load(), 2);
    }
    stop.store(true);
    worker.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_FALSE(PelProcessBC::isInterruptContext());
}

}  // namespace
