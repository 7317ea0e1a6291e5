// CKesHandleBase: distinct handles under concurrency, reservations and
// exhaustion. The allocator's state lives for the process, so the cases that
// depend on where it starts run in a fresh process each.
#include <kes/application/keshandlebase.h>

#include "console_capture.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr LONG kLast = 0x7FFFFFFF;

// In the child process: a failed check is reported on standard error and
// clears `ok`.
#define CHECK_EQ(got, expected)                                                     \
    do {                                                                            \
        if (!((got) == (expected))) {                                               \
            std::fprintf(stderr, "line %d: %s != %s\n", __LINE__, #got, #expected); \
            ok = false;                                                             \
        }                                                                           \
    } while (0)

// The next handle, or -1 when GetHandle fails.
LONG Next() {
    LONG handle = -1;
    return CKesHandleBase::GetHandle(&handle) == S_OK ? handle : -1;
}

// Runs `check` (a lambda returning whether all its checks held) in a fresh
// copy of this program, where the allocator is as at load.
#define EXPECT_IN_FRESH_PROCESS(...)                    \
    do {                                                \
        GTEST_FLAG_SET(death_test_style, "threadsafe"); \
        EXPECT_EXIT(                                    \
            {                                           \
                bool passed = (__VA_ARGS__)();          \
                std::fflush(stderr);                    \
                std::_Exit(passed ? 0 : 1);             \
            },                                          \
            ::testing::ExitedWithCode(0), "");          \
    } while (0)

TEST(HandleBase, HandsOutOneTwoThreeFromLoadAndReservationsMoveOnlyForward) {
    EXPECT_IN_FRESH_PROCESS([] {
        bool ok = true;
        for (LONG ignored : {0, -1, -2147483647 - 1})
            CHECK_EQ(CKesHandleBase::ReserveHandle(ignored), S_OK);
        CHECK_EQ(Next(), 1);
        CHECK_EQ(Next(), 2);
        CHECK_EQ(Next(), 3);
        CKesHandleBase::ReserveHandle(10);
        CHECK_EQ(Next(), 11);
        CKesHandleBase::ReserveHandle(5);   // below the next one
        CKesHandleBase::ReserveHandle(12);  // the next one itself
        CHECK_EQ(Next(), 13);
        return ok;
    });
}

// Handing out the last handle, reserving it outright, or reserving it when it
// is next exhausts the allocator without overflow; no reservation revives it.
TEST(HandleBase, AfterTheLastHandleEveryCallFailsWithOutOfHandles) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        EXPECT_IN_FRESH_PROCESS([way] {
            bool ok = true;
            if (way != 1)
                CKesHandleBase::ReserveHandle(kLast - 1);
            if (way == 0)
                CHECK_EQ(Next(), kLast);
            else
                CHECK_EQ(CKesHandleBase::ReserveHandle(kLast), S_OK);
            for (int attempt = 0; attempt < 3; ++attempt) {
                LONG handle = 77;
                CHECK_EQ(CKesHandleBase::GetHandle(&handle), KES_E_OUT_OF_HANDLES);
                CHECK_EQ(handle, 77);
                CHECK_EQ(LastText(KES_E_OUT_OF_HANDLES), "The system has run out of handles");
                CKesHandleBase::ReserveHandle(5);
            }
            return ok;
        });
    }
}

TEST(HandleBase, NullOutPointerIsReportedAndRefusedWithoutUsingAHandle) {
    EXPECT_IN_FRESH_PROCESS([] {
        bool ok = true;
        ConsoleCapture console;
        CHECK_EQ(CKesHandleBase::GetHandle(nullptr), E_POINTER);
        CHECK_EQ(console.Asserted("kes/application/keshandlebase"),
                 std::vector<std::string>{"pHandle != 0"});
        CHECK_EQ(Next(), 1);
        return ok;
    });
}

TEST(HandleBase, TwoThreadsGetDistinctPositiveHandles) {
    constexpr int kPerThread = 100000;
    std::vector<LONG> got[2];
    std::vector<std::thread> threads;
    for (auto& list : got) {
        threads.emplace_back([&list] {
            list.reserve(kPerThread);
            for (int i = 0; i < kPerThread; ++i) {
                LONG handle = 0;
                ASSERT_EQ(CKesHandleBase::GetHandle(&handle), S_OK);
                list.push_back(handle);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (auto& list : got)
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));  // increasing per thread
    std::vector<LONG> all(got[0]);
    all.insert(all.end(), got[1].begin(), got[1].end());
    ASSERT_EQ(all.size(), 2u * kPerThread);
    std::sort(all.begin(), all.end());
    EXPECT_GT(all.front(), 0);
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
