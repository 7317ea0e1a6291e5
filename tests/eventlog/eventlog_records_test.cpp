// What a record stores: every field of the write, exactly.
#include "eventlog_fixture.h"

#include <host/error.h>
#include <host/eventlog.h>

#include <gtest/gtest.h>

#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

namespace eventlog_test {
namespace {

using Records = StoreTest;

TEST_F(Records, EveryFieldRoundTripsExactly) {
    const std::vector<unsigned char> data = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0x00};
    ASSERT_TRUE(log(u"Quenlix", EVENTLOG_WARNING_TYPE, 7, 0xC0012345u,
                    {wide(u"first"), wide(u""), wide(u"Grüße, 東京 \U0001F600"), wide(u"")}, data));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    const row& r = all[0];
    EXPECT_EQ(r.source, "Quenlix");
    EXPECT_EQ(r.type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(r.category, 7);
    EXPECT_EQ(r.event_id, 0xC0012345);
    EXPECT_EQ(r.strings,
              (std::vector<std::string>{"first", "", "Grüße, 東京 \xF0\x9F\x98\x80", ""}));
    EXPECT_EQ(r.data, data);
    EXPECT_EQ(r.pid, ::getpid());
    EXPECT_EQ(r.tid, ::syscall(SYS_gettid));
}

TEST_F(Records, ExtremeValuesOfTheNumericFieldsAreKept) {
    ASSERT_TRUE(log(u"S", 0xFFFF, 0xFFFF, 0xFFFFFFFFu, {}));
    ASSERT_TRUE(log(u"S", EVENTLOG_SUCCESS, 0, 0, {}));
    auto all = rows();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].type, 0xFFFF);
    EXPECT_EQ(all[0].category, 0xFFFF);
    EXPECT_EQ(all[0].event_id, 0xFFFFFFFFll);
    EXPECT_EQ(all[1].type, 0);
    EXPECT_EQ(all[1].event_id, 0);
}

TEST_F(Records, NoStringsAndNoDataStoreAnEmptyArrayAndAnEmptyBlob) {
    ASSERT_TRUE(log(u"S", EVENTLOG_ERROR_TYPE, 0, 1, {}));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].strings_json, "[]");
    EXPECT_TRUE(all[0].strings.empty());
    EXPECT_TRUE(all[0].data.empty());
}

TEST_F(Records, StringsWithJsonSyntaxAndControlCharactersRoundTrip) {
    const std::u16string tricky =
        u"quote \" backslash \\ slash / \r\n tab \t bell \a nul-free ] , [";
    ASSERT_TRUE(log(u"S", EVENTLOG_INFORMATION_TYPE, 0, 0, {wide(tricky), wide(u"\",\"")}));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    ASSERT_EQ(all[0].strings.size(), 2u);
    EXPECT_EQ(all[0].strings[0],
              "quote \" backslash \\ slash / \r\n tab \t bell \a nul-free ] , [");
    EXPECT_EQ(all[0].strings[1], "\",\"");
}

TEST_F(Records, IllFormedUtf16BecomesReplacementCharacters) {
    host::wstring lone = {'a', 0xD800, 'b', 0xDC00};
    ASSERT_TRUE(log(u"S", EVENTLOG_INFORMATION_TYPE, 0, 0, {lone}));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].strings, std::vector<std::string>{"a\xEF\xBF\xBD"
                                                       "b\xEF\xBF\xBD"});
}

TEST_F(Records, NonAsciiSourceNamesAreStoredAsUtf8) {
    ASSERT_TRUE(log(u"Prüfstand", EVENTLOG_INFORMATION_TYPE, 0, 0, {}));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].source, "Prüfstand");
}

TEST_F(Records, TimeIsUtcWithMicrosecondsAndCloseToNow) {
    std::time_t before = std::time(nullptr);
    ASSERT_TRUE(log_text("x"));
    std::time_t after = std::time(nullptr);
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    const std::string& t = all[0].time;
    ASSERT_EQ(t.size(), 27u) << t;
    EXPECT_EQ(t[4], '-');
    EXPECT_EQ(t[10], 'T');
    EXPECT_EQ(t[19], '.');
    EXPECT_EQ(t.back(), 'Z');
    std::tm parts{};
    ASSERT_NE(strptime(t.c_str(), "%Y-%m-%dT%H:%M:%S", &parts), nullptr);
    std::time_t stored = timegm(&parts);
    EXPECT_GE(stored, before);
    EXPECT_LE(stored, after);
}

TEST_F(Records, RecordsAreStoredInWriteOrderWithRisingTimes) {
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(log_text(std::to_string(i)));
    auto all = rows();
    ASSERT_EQ(all.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(all[i].strings, std::vector<std::string>{std::to_string(i)});
        if (i > 0) {
            EXPECT_GT(all[i].id, all[i - 1].id);
            EXPECT_GE(all[i].time, all[i - 1].time);
        }
    }
}

TEST_F(Records, LongestAllowedStringAndLargestDataBlockAreStoredWhole) {
    host::wstring longest(EVENTLOG_MAX_STRING_LENGTH, u'x');
    std::vector<unsigned char> largest(EVENTLOG_MAX_DATA_SIZE);
    for (std::size_t i = 0; i < largest.size(); ++i)
        largest[i] = static_cast<unsigned char>(i * 7);
    ASSERT_TRUE(log(u"S", EVENTLOG_ERROR_TYPE, 0, 0, {longest}, largest));
    auto all = rows();
    ASSERT_EQ(all.size(), 1u);
    ASSERT_EQ(all[0].strings.size(), 1u);
    EXPECT_EQ(all[0].strings[0], std::string(EVENTLOG_MAX_STRING_LENGTH, 'x'));
    EXPECT_EQ(all[0].data, largest);
}

TEST_F(Records, OneHandleServesManyRecords) {
    HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Shared"));
    ASSERT_NE(h, nullptr);
    LPCWSTR text[] = {OLESTR("t")};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(ReportEventW(h, EVENTLOG_INFORMATION_TYPE, 0, static_cast<DWORD>(i), nullptr, 1,
                                 0, text, nullptr));
    }
    EXPECT_TRUE(DeregisterEventSource(h));
    auto all = rows();
    ASSERT_EQ(all.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(all[i].event_id, i);
}

TEST_F(Records, ChangingKesHomeSendsLaterRecordsToTheNewStore) {
    ASSERT_TRUE(log_text("first store"));
    const std::string second = home() + "/elsewhere";
    ::setenv("KES_HOME", second.c_str(), 1);
    ASSERT_TRUE(log_text("second store"));
    ::setenv("KES_HOME", home().c_str(), 1);
    auto first_rows = rows();
    ASSERT_EQ(first_rows.size(), 1u);
    EXPECT_EQ(first_rows[0].strings, std::vector<std::string>{"first store"});
    EXPECT_EQ(::access((second + "/eventlog.db").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace eventlog_test
