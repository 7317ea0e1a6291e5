#include <host/critsec.h>
#include <host/thread.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Section {
    CRITICAL_SECTION cs;
    Section() { InitializeCriticalSection(&cs); }
    ~Section() { DeleteCriticalSection(&cs); }
};

bool other_thread_can_enter(CRITICAL_SECTION* cs) {
    bool entered = false;
    std::thread other([&] {
        entered = TryEnterCriticalSection(cs);
        if (entered)
            LeaveCriticalSection(cs);
    });
    other.join();
    return entered;
}

TEST(CriticalSection, OwnerReentersAndTheLastLeaveFreesIt) {
    Section s;
    EnterCriticalSection(&s.cs);
    EnterCriticalSection(&s.cs);
    EXPECT_TRUE(TryEnterCriticalSection(&s.cs));
    LeaveCriticalSection(&s.cs);
    LeaveCriticalSection(&s.cs);
    EXPECT_FALSE(other_thread_can_enter(&s.cs));
    LeaveCriticalSection(&s.cs);
    EXPECT_TRUE(other_thread_can_enter(&s.cs));
}

TEST(CriticalSection, LeaveByANonOwnerIsIgnored) {
    Section s;
    EnterCriticalSection(&s.cs);
    std::thread stray([&] { LeaveCriticalSection(&s.cs); });
    stray.join();
    EXPECT_FALSE(other_thread_can_enter(&s.cs)) << "still ours";
    LeaveCriticalSection(&s.cs);
    LeaveCriticalSection(&s.cs);  // one too many: ignored as well
    EXPECT_TRUE(other_thread_can_enter(&s.cs));
}

TEST(CriticalSection, ZeroFilledSectionIsFree) {
    static CRITICAL_SECTION zeroed;  // static storage: all zero
    EXPECT_TRUE(TryEnterCriticalSection(&zeroed));
    LeaveCriticalSection(&zeroed);
}

TEST(CriticalSection, CountsStayExactUnderContention) {
    Section s;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kStressIterations; ++i) {
                EnterCriticalSection(&s.cs);
                EnterCriticalSection(&s.cs);
                ++counter;
                LeaveCriticalSection(&s.cs);
                LeaveCriticalSection(&s.cs);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 4 * kStressIterations);
}

TEST(ThreadId, IsTheKernelIdAndDiffersBetweenThreads) {
    EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(::syscall(SYS_gettid)));
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
    std::set<DWORD> ids{GetCurrentThreadId()};
    std::vector<DWORD> seen(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&seen, i] { seen[i] = GetCurrentThreadId(); });
    for (auto& t : threads)
        t.join();
    ids.insert(seen.begin(), seen.end());
    EXPECT_EQ(ids.size(), 5u);
}

TEST(ThreadId, ChildAfterForkSeesItsOwnId) {
    DWORD parent = GetCurrentThreadId();
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        bool ok = GetCurrentThreadId() == static_cast<DWORD>(::getpid()) &&
                  GetCurrentThreadId() != parent;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
