// Bad handles and bad arguments: a clear error code, nothing written.
#include "eventlog_fixture.h"

#include <host/error.h>
#include <host/eventlog.h>

#include <gtest/gtest.h>

namespace eventlog_test {
namespace {

using SourceHandles = StoreTest;
using ReportArguments = StoreTest;

TEST_F(SourceHandles, OnlyLocalNamedSourcesOtherThanSecurityOpen) {
    struct Case {
        LPCWSTR server, source;
        DWORD error;  // 0: opens
    };
    for (const Case& c : {Case{nullptr, OLESTR("Test"), 0}, Case{OLESTR(""), OLESTR("Test"), 0},
                          Case{OLESTR("\\\\testhost"), OLESTR("Test"), RPC_S_SERVER_UNAVAILABLE},
                          Case{nullptr, nullptr, ERROR_INVALID_PARAMETER},
                          Case{nullptr, OLESTR(""), ERROR_INVALID_PARAMETER},
                          Case{nullptr, OLESTR("Security"), ERROR_ACCESS_DENIED},
                          Case{nullptr, OLESTR("SECURITY"), ERROR_ACCESS_DENIED},
                          Case{nullptr, OLESTR("security"), ERROR_ACCESS_DENIED},
                          Case{nullptr, OLESTR("Security2"), 0}}) {
        SetLastError(0);
        HANDLE h = RegisterEventSourceW(c.server, c.source);
        EXPECT_EQ(h != nullptr, c.error == 0);
        if (h != nullptr)
            EXPECT_TRUE(DeregisterEventSource(h));
        else
            EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(SourceHandles, ForeignClosedAndNullHandlesAreInvalidEverywhere) {
    HANDLE closed = RegisterEventSourceW(nullptr, OLESTR("Test"));
    ASSERT_TRUE(DeregisterEventSource(closed));
    for (int i = 0; i < 100; ++i) {
        HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Test"));
        EXPECT_NE(h, closed) << "a closed handle's value came back";
        ASSERT_TRUE(DeregisterEventSource(h));
    }
    int local = 0;
    LPCWSTR text[] = {OLESTR("x")};
    for (HANDLE h : {static_cast<HANDLE>(nullptr), closed, static_cast<HANDLE>(&local),
                     reinterpret_cast<HANDLE>(-1), reinterpret_cast<HANDLE>(0x1234)}) {
        SetLastError(0);
        EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, text, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(DeregisterEventSource(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(count(), 0);
}

TEST_F(ReportArguments, MalformedRecordsAreRefusedWholeAndWellFormedOnesKept) {
    static host::wstring too_long(EVENTLOG_MAX_STRING_LENGTH + 1, u'y');
    static std::vector<unsigned char> data(EVENTLOG_MAX_DATA_SIZE + 1, 0xAB);
    static LPCWSTR with_hole[] = {OLESTR("a"), nullptr};
    static LPCWSTR with_long[] = {OLESTR("fine"), too_long.c_str()};
    int sid = 42;
    struct Case {
        WORD count;
        DWORD size;
        LPCWSTR* strings;
        void* data;
        PSID sid;
        DWORD error;  // 0: stored
    };
    const Case cases[] = {
        {2, 0, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {2, 0, with_hole, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {2, 0, with_long, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {0, 4, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {0, EVENTLOG_MAX_DATA_SIZE + 1, nullptr, data.data(), nullptr, RPC_S_INVALID_BOUND},
        {0, 0, nullptr, nullptr, nullptr, 0},  // null strings with a zero count
        {0, EVENTLOG_MAX_DATA_SIZE, nullptr, data.data(), nullptr, 0},
        {0, 0, nullptr, nullptr, &sid, 0},  // a user SID is accepted and ignored
    };
    HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Test"));
    int stored = 0;
    for (const Case& c : cases) {
        SetLastError(0);
        const BOOL ok =
            ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, c.sid, c.count, c.size, c.strings, c.data);
        EXPECT_EQ(ok != FALSE, c.error == 0);
        if (ok)
            ++stored;
        else
            EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(count(), stored);
    }
    DeregisterEventSource(h);
}

}  // namespace
}  // namespace eventlog_test
