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
using Strings = std::vector<std::string>;

TEST_F(Records, EveryFieldRoundTripsExactly) {
    struct Case {
        const char16_t* source;
        WORD type, category;
        DWORD eventId;
        std::vector<host::wstring> strings;
        std::vector<unsigned char> data;
        std::string source8;
        Strings strings8;  // as stored, UTF-8
    };
    const std::vector<Case> cases = {
        {u"Quenlix",
         EVENTLOG_WARNING_TYPE,
         7,
         0xC0012345u,
         {wide(u"first"), wide(u""), wide(u"Grüße, 東京 \U0001F600"), wide(u"")},
         {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0x00},
         "Quenlix",
         {"first", "", "Grüße, 東京 \xF0\x9F\x98\x80", ""}},
        {u"S", 0xFFFF, 0xFFFF, 0xFFFFFFFFu, {}, {}, "S", {}},
        {u"Prüfstand", EVENTLOG_SUCCESS, 0, 0, {}, {}, "Prüfstand", {}},
        // JSON syntax and control characters in the strings.
        {u"S",
         EVENTLOG_INFORMATION_TYPE,
         0,
         0,
         {wide(u"quote \" backslash \\ / \r\n tab \t bell \a ] , ["), wide(u"\",\"")},
         {},
         "S",
         {"quote \" backslash \\ / \r\n tab \t bell \a ] , [", "\",\""}},
        // Ill-formed UTF-16 is stored as U+FFFD.
        {u"S",
         EVENTLOG_INFORMATION_TYPE,
         0,
         0,
         {host::wstring{'a', 0xD800, 'b', 0xDC00}},
         {},
         "S",
         {"a\xEF\xBF\xBD"
          "b\xEF\xBF\xBD"}},
        // The longest string and the largest data block are stored whole.
        {u"S",
         EVENTLOG_ERROR_TYPE,
         0,
         0,
         {host::wstring(EVENTLOG_MAX_STRING_LENGTH, u'x')},
         std::vector<unsigned char>(EVENTLOG_MAX_DATA_SIZE, 0xA5),
         "S",
         {std::string(EVENTLOG_MAX_STRING_LENGTH, 'x')}},
    };
    for (const Case& c : cases)
        ASSERT_TRUE(log(c.source, c.type, c.category, c.eventId, c.strings, c.data));
    auto all = rows();
    ASSERT_EQ(all.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(all[i].source, cases[i].source8);
        EXPECT_EQ(all[i].type, cases[i].type);
        EXPECT_EQ(all[i].category, cases[i].category);
        EXPECT_EQ(all[i].event_id, cases[i].eventId);
        EXPECT_EQ(all[i].strings, cases[i].strings8);
        EXPECT_EQ(all[i].data, cases[i].data);
        EXPECT_EQ(all[i].pid, ::getpid());
        EXPECT_EQ(all[i].tid, ::syscall(SYS_gettid));
    }
    EXPECT_EQ(all[1].strings_json, "[]");
}

TEST_F(Records, OneHandleStoresRecordsInWriteOrderWithRisingUtcTimes) {
    const std::time_t before = std::time(nullptr);
    HANDLE h = RegisterEventSourceW(nullptr, OLESTR("Shared"));
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 50; ++i) {
        const host::wstring text = wide(std::u16string(u"r") + char16_t(u'0' + i % 10));
        LPCWSTR strings[] = {text.c_str()};
        ASSERT_TRUE(ReportEventW(h, EVENTLOG_INFORMATION_TYPE, 0, static_cast<DWORD>(i), nullptr, 1,
                                 0, strings, nullptr));
    }
    EXPECT_TRUE(DeregisterEventSource(h));
    const std::time_t after = std::time(nullptr);
    auto all = rows();
    ASSERT_EQ(all.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(all[i].event_id, i);
        EXPECT_EQ(all[i].strings, Strings{"r" + std::to_string(i % 10)});
        if (i > 0) {
            EXPECT_GT(all[i].id, all[i - 1].id);
            EXPECT_GE(all[i].time, all[i - 1].time);
        }
    }
    // "YYYY-MM-DDTHH:MM:SS.uuuuuuZ", UTC.
    const std::string& t = all[0].time;
    ASSERT_EQ(t.size(), 27u) << t;
    EXPECT_EQ(t[10], 'T');
    EXPECT_EQ(t[19], '.');
    EXPECT_EQ(t.back(), 'Z');
    std::tm parts{};
    ASSERT_NE(strptime(t.c_str(), "%Y-%m-%dT%H:%M:%S", &parts), nullptr);
    EXPECT_GE(timegm(&parts), before);
    EXPECT_LE(timegm(&parts), after);
}

TEST_F(Records, ChangingKesHomeSendsLaterRecordsToTheNewStore) {
    ASSERT_TRUE(log_text("first store"));
    const std::string second = home() + "/elsewhere";
    ::setenv("KES_HOME", second.c_str(), 1);
    ASSERT_TRUE(log_text("second store"));
    ::setenv("KES_HOME", home().c_str(), 1);
    auto first_rows = rows();
    ASSERT_EQ(first_rows.size(), 1u);
    EXPECT_EQ(first_rows[0].strings, Strings{"first store"});
    EXPECT_EQ(::access((second + "/eventlog.db").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace eventlog_test
