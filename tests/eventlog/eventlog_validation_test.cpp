// Bad handles and bad arguments: a clear error code, nothing written.
#include "eventlog_fixture.h"

#include <host/error.h>
#include <host/eventlog.h>

#include <gtest/gtest.h>

namespace eventlog_test {
namespace {

using SourceHandles = StoreTest;
using ReportArguments = StoreTest;

HANDLE open_source() {
    HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Test"));
    EXPECT_NE(h, nullptr);
    return h;
}

TEST_F(SourceHandles, LocalServerMayBeNullOrEmpty) {
    HANDLE a = RegisterEventSourceW(nullptr, OLESTR("Test"));
    HANDLE b = RegisterEventSourceW(OLESTR(""), OLESTR("Test"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_TRUE(DeregisterEventSource(a));
    EXPECT_TRUE(DeregisterEventSource(b));
}

TEST_F(SourceHandles, RemoteServerIsRefused) {
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceW(OLESTR("\\\\testhost"), OLESTR("Test")), nullptr);
    EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(SourceHandles, MissingOrEmptySourceIsAnInvalidParameter) {
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceW(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceW(nullptr, OLESTR("")), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SourceHandles, TheSecuritySourceIsReservedInAnyCase) {
    for (LPCWSTR name : {OLESTR("Security"), OLESTR("SECURITY"), OLESTR("security")}) {
        SetLastError(0);
        EXPECT_EQ(RegisterEventSourceW(nullptr, name), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Security2"));
    EXPECT_NE(h, nullptr);
    DeregisterEventSource(h);
}

TEST_F(SourceHandles, ForeignClosedAndNullHandlesAreInvalidEverywhere) {
    HANDLE closed = open_source();
    ASSERT_TRUE(DeregisterEventSource(closed));
    int local = 0;
    const HANDLE bad[] = {nullptr, closed, &local, reinterpret_cast<HANDLE>(-1),
                          reinterpret_cast<HANDLE>(0x1234)};
    LPCWSTR text[] = {OLESTR("x")};
    for (HANDLE h : bad) {
        SetLastError(0);
        EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, text, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(DeregisterEventSource(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(count(), 0);
}

TEST_F(SourceHandles, ClosedHandleValuesAreNotReusedByLaterSources) {
    HANDLE first = open_source();
    ASSERT_TRUE(DeregisterEventSource(first));
    for (int i = 0; i < 100; ++i) {
        HANDLE h = open_source();
        EXPECT_NE(h, first);
        ASSERT_TRUE(DeregisterEventSource(h));
    }
}

TEST_F(ReportArguments, StringCountWithoutStringsIsRejected) {
    HANDLE h = open_source();
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    LPCWSTR with_hole[] = {OLESTR("a"), nullptr};
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, with_hole, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DeregisterEventSource(h);
    EXPECT_EQ(count(), 0);
}

TEST_F(ReportArguments, NullStringsWithZeroCountAreFine) {
    HANDLE h = open_source();
    EXPECT_TRUE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 0, 0, nullptr, nullptr));
    DeregisterEventSource(h);
    EXPECT_EQ(count(), 1);
}

TEST_F(ReportArguments, DataSizeWithoutDataIsRejected) {
    HANDLE h = open_source();
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 0, 4, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DeregisterEventSource(h);
    EXPECT_EQ(count(), 0);
}

TEST_F(ReportArguments, DataBeyondTheLimitIsAnInvalidBound) {
    std::vector<unsigned char> data(EVENTLOG_MAX_DATA_SIZE + 1, 0xAB);
    HANDLE h = open_source();
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 0, EVENTLOG_MAX_DATA_SIZE + 1,
                              nullptr, data.data()));
    EXPECT_EQ(GetLastError(), RPC_S_INVALID_BOUND);
    EXPECT_TRUE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 0, EVENTLOG_MAX_DATA_SIZE,
                             nullptr, data.data()));
    DeregisterEventSource(h);
    EXPECT_EQ(count(), 1);
}

TEST_F(ReportArguments, AStringBeyondTheLimitRejectsTheWholeRecord) {
    host::wstring too_long(EVENTLOG_MAX_STRING_LENGTH + 1, u'y');
    LPCWSTR strings[] = {OLESTR("fine"), too_long.c_str()};
    HANDLE h = open_source();
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DeregisterEventSource(h);
    EXPECT_EQ(count(), 0);
}

TEST_F(ReportArguments, AUserSidIsAcceptedAndIgnored) {
    HANDLE h = open_source();
    int sid = 42;
    EXPECT_TRUE(ReportEventW(h, EVENTLOG_AUDIT_SUCCESS, 0, 0, &sid, 0, 0, nullptr, nullptr));
    DeregisterEventSource(h);
    EXPECT_EQ(count(), 1);
}

}  // namespace
}  // namespace eventlog_test
