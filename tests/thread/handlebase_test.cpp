// CKesHandleBase: distinct handles under concurrency, reservations and
// exhaustion. The allocator's state lives for the process, so the cases that
// depend on where it starts run in a fresh process each.
#include <kes/application/keshandlebase.h>

#include <kes/error/keserror.h>

#include "console_capture.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr LONG kLast = 0x7FFFFFFF;

// In the child process: reports a failed check on standard error.
bool Check(bool condition, const char* what, long long got) {
    if (!condition)
        std::fprintf(stderr, "check failed: %s (got %lld)\n", what, got);
    return condition;
}

// The next handle, or -1 when GetHandle fails.
LONG Next() {
    LONG handle = -1;
    return CKesHandleBase::GetHandle(&handle) == S_OK ? handle : -1;
}

std::string LastText(LONG code) {
    host::wstring wide;
    KesGetLastErrorMessage(code, wide);
    return std::string(wide.begin(), wide.end());
}

// Runs `check` in a fresh copy of this program, where the allocator is as at
// load, and expects it to succeed.
#define EXPECT_IN_FRESH_PROCESS(...)                    \
    do {                                                \
        GTEST_FLAG_SET(death_test_style, "threadsafe"); \
        EXPECT_EXIT(                                    \
            {                                           \
                bool ok = (__VA_ARGS__)();              \
                std::fflush(stderr);                    \
                std::_Exit(ok ? 0 : 1);                 \
            },                                          \
            ::testing::ExitedWithCode(0), "");          \
    } while (0)

TEST(HandleBase, HandsOutOneTwoThreeFromLoad) {
    EXPECT_IN_FRESH_PROCESS([] {
        LONG a = Next(), b = Next(), c = Next();
        return Check(a == 1, "first", a) & Check(b == 2, "second", b) & Check(c == 3, "third", c);
    });
}

TEST(HandleBase, ReservationMovesTheNextHandleOnlyForward) {
    EXPECT_IN_FRESH_PROCESS([] {
        bool ok = true;
        for (LONG ignored : {0, -1, -2147483647 - 1})
            ok &= Check(CKesHandleBase::ReserveHandle(ignored) == S_OK, "reserve returns 0", 0);
        LONG first = Next();
        ok &= Check(first == 1, "0 and negatives change nothing", first);
        CKesHandleBase::ReserveHandle(10);
        LONG after = Next();
        ok &= Check(after == 11, "after reserving 10", after);
        CKesHandleBase::ReserveHandle(5);   // below the next one
        CKesHandleBase::ReserveHandle(12);  // the next one itself
        LONG next = Next();
        ok &= Check(next == 13, "after reserving 5 then 12", next);
        return ok;
    });
}

TEST(HandleBase, AfterTheLastHandleEveryCallFailsWithOutOfHandles) {
    EXPECT_IN_FRESH_PROCESS([] {
        bool ok = true;
        CKesHandleBase::ReserveHandle(kLast - 1);
        LONG last = Next();
        ok &= Check(last == kLast, "the last handle", last);
        for (int attempt = 0; attempt < 3; ++attempt) {
            LONG handle = 77;
            LONG result = CKesHandleBase::GetHandle(&handle);
            ok &= Check(result == KES_E_OUT_OF_HANDLES, "result when exhausted", result);
            ok &= Check(handle == 77, "out argument untouched", handle);
            std::string text = LastText(KES_E_OUT_OF_HANDLES);
            ok &= Check(text == "The system has run out of handles", text.c_str(), 0);
        }
        // Reservations do not revive it: handles would be handed out twice.
        CKesHandleBase::ReserveHandle(5);
        LONG revived = Next();
        ok &= Check(revived == -1, "reserving after exhaustion", revived);
        return ok;
    });
}

TEST(HandleBase, ReservingTheLargestHandleExhaustsWithoutOverflow) {
    // Reserved before any hand-out, and with the last handle itself next.
    for (LONG before : {LONG{0}, kLast - 1}) {
        SCOPED_TRACE(before);
        EXPECT_IN_FRESH_PROCESS([before] {
            bool ok = true;
            if (before != 0) {
                CKesHandleBase::ReserveHandle(before);
                ok &= Check(Next() == before + 1, "handle before the reservation", before + 1);
            }
            ok &= Check(CKesHandleBase::ReserveHandle(kLast) == S_OK, "reserve returns 0", 0);
            for (int attempt = 0; attempt < 2; ++attempt) {
                LONG handle = 5;
                LONG result = CKesHandleBase::GetHandle(&handle);
                ok &= Check(result == KES_E_OUT_OF_HANDLES, "result", result);
                ok &= Check(handle == 5, "untouched", handle);
                std::string text = LastText(KES_E_OUT_OF_HANDLES);
                ok &= Check(text == "The system has run out of handles", text.c_str(), 0);
            }
            return ok;
        });
    }
}

TEST(HandleBase, NullOutPointerIsReportedAndRefusedWithoutUsingAHandle) {
    EXPECT_IN_FRESH_PROCESS([] {
        ConsoleCapture console;
        LONG result = CKesHandleBase::GetHandle(nullptr);
        std::vector<std::string> reported = console.Asserted("kes/application/keshandlebase");
        LONG next = Next();
        return Check(result == E_POINTER, "result", result) &
               Check(reported == std::vector<std::string>{"pHandle != 0"}, "one report", 0) &
               Check(next == 1, "no handle used up", next);
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
    std::vector<LONG> all(got[0]);
    all.insert(all.end(), got[1].begin(), got[1].end());
    ASSERT_EQ(all.size(), 2u * kPerThread);
    // Each thread sees its handles increase.
    for (auto& list : got)
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    std::sort(all.begin(), all.end());
    EXPECT_GT(all.front(), 0);
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
