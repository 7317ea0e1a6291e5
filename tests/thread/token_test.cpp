// CKesToken and CKesTokenLock: one holder at a time, never a wait.
#include <kes/sync/kestoken.h>

#include "support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

TEST(Token, OneLockHoldsItAndOthersFailUntilItIsGivenBack) {
    CKesToken token;
    auto first = std::make_unique<CKesTokenLock>(token);
    EXPECT_TRUE(first->Acquired());
    {
        CKesTokenLock same_thread(token);  // the token does not count holds
        EXPECT_FALSE(same_thread.Acquired());
    }
    // The failed attempt's end left the token with the first lock.
    bool other_thread_acquired = true;
    std::thread([&] {
        CKesTokenLock other(token);
        other_thread_acquired = other.Acquired();
    }).join();
    EXPECT_FALSE(other_thread_acquired);
    EXPECT_TRUE(first->Acquired());  // the same answer for the whole life
    first.reset();
    CKesTokenLock again(token);
    EXPECT_TRUE(again.Acquired());
}

TEST(Token, ExactlyOneOfManyRacingThreadsAcquires) {
    constexpr int kThreads = 8;
    const int rounds = kRounds / 100;
    for (int round = 0; round < rounds; ++round) {
        CKesToken token;
        std::atomic<int> ready{0}, acquired{0}, tried{0};
        std::atomic<bool> go{false}, hold{true};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                ++ready;
                while (!go.load())
                    std::this_thread::yield();
                CKesTokenLock lock(token);
                if (lock.Acquired())
                    ++acquired;
                ++tried;
                // The holder keeps the token until every attempt is made.
                while (lock.Acquired() && hold.load())
                    std::this_thread::yield();
            });
        }
        while (ready.load() != kThreads)
            std::this_thread::yield();
        go = true;
        while (tried.load() != kThreads)
            std::this_thread::yield();
        hold = false;
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(acquired.load(), 1) << "round " << round;
        CKesTokenLock after(token);
        ASSERT_TRUE(after.Acquired());
    }
}

}  // namespace
