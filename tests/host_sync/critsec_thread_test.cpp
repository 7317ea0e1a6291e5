// The critical section and thread ids.
#include <host/critsec.h>
#include <host/thread.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <vector>

namespace {

bool OtherThreadCanEnter(CRITICAL_SECTION* cs) {
    bool entered = false;
    std::thread([&] {
        entered = TryEnterCriticalSection(cs);
        if (entered)
            LeaveCriticalSection(cs);
    }).join();
    return entered;
}

TEST(CriticalSection, OwnerReentersTheLastLeaveFreesItAndStrayLeavesAreIgnored) {
    static CRITICAL_SECTION zeroed;  // static storage, all zero: a free section
    EXPECT_TRUE(OtherThreadCanEnter(&zeroed));
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    std::thread([&] { LeaveCriticalSection(&cs); }).join();  // not the owner: ignored
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(OtherThreadCanEnter(&cs));
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    LeaveCriticalSection(&cs);  // one too many: ignored as well
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, NestedHoldsCountExactlyUnderContention) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kStressIterations; ++i) {
                EnterCriticalSection(&cs);
                EnterCriticalSection(&cs);
                ++counter;
                LeaveCriticalSection(&cs);
                LeaveCriticalSection(&cs);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 4 * kStressIterations);
    DeleteCriticalSection(&cs);
}

TEST(ThreadId, IsTheKernelIdDiffersBetweenThreadsAndIsFreshAfterFork) {
    EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(::syscall(SYS_gettid)));
    std::set<DWORD> ids{GetCurrentThreadId()};
    std::vector<DWORD> seen(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&seen, i] { seen[i] = GetCurrentThreadId(); });
    for (auto& t : threads)
        t.join();
    ids.insert(seen.begin(), seen.end());
    EXPECT_EQ(ids.size(), 5u);

    DWORD parent = GetCurrentThreadId();
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0)
        ::_exit(GetCurrentThreadId() == static_cast<DWORD>(::getpid()) &&
                        GetCurrentThreadId() != parent
                    ? 0
                    : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
