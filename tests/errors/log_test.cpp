// Event records: their fields, the event category, the session prefix of
// text records, long texts, an unwritable store and the debug entry points.
#include "errors_support.h"

#include <host/eventlog.h>
#include <kes/application/kestestsession.h>
#include <kes/error/keserror.h>
#include <kes/error/keslog.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using errtest::ErrorsTest;
using errtest::Wide;

const LONG kNotFound = static_cast<LONG>(0x8004020Au);

enum class Writer { Event, Info, Warning, Error };

struct RawCase {
    Writer writer;
    WORD type;  // for Writer::Event; the shortcuts imply theirs
    DWORD eventId;
    std::vector<std::string> strings;
    std::vector<unsigned char> data;
    int expectedType;
    std::int64_t expectedId;
};

TEST_F(ErrorsTest, RawRecordsKeepTheirFieldsAndTheIdentifiersLow16Bits) {
    const std::vector<RawCase> cases = {
        {Writer::Event, EVENTLOG_WARNING_TYPE, 0x00012345u, {"one"}, {}, 2, 0x2345},
        {Writer::Info, 0, 0xFFFFu, {"info"}, {}, 4, 0xFFFF},
        {Writer::Warning, 0, 0xFFFF0000u, {}, {}, 2, 0},
        {Writer::Error,
         0,
         0x80000001u,
         {"a", "",
          "Gr\xC3\xBC\xC3\x9F"
          "e"},
         {0, 0xFF, 7},
         1,
         1},
        {Writer::Info, 0, 42u, {}, {1, 2, 3, 4}, 4, 42},
    };
    InChild([&cases] {
        for (const RawCase& c : cases) {
            std::vector<host::wstring> wide;
            for (const std::string& s : c.strings)
                wide.push_back(Wide(s));
            std::vector<const unsigned short*> strings;
            for (const host::wstring& w : wide)
                strings.push_back(w.c_str());
            const auto count = static_cast<unsigned short>(strings.size());
            const unsigned short** pointers = strings.empty() ? nullptr : strings.data();
            const auto size = static_cast<DWORD>(c.data.size());
            const void* data = c.data.empty() ? nullptr : c.data.data();
            switch (c.writer) {
                case Writer::Event:
                    KesLogEvent(c.eventId, c.type, count, pointers, size, data);
                    break;
                case Writer::Info:
                    KesLogInfo(c.eventId, count, pointers, size, data);
                    break;
                case Writer::Warning:
                    KesLogWarning(c.eventId, count, pointers, size, data);
                    break;
                case Writer::Error:
                    KesLogError(c.eventId, count, pointers, size, data);
                    break;
            }
        }
    });
    const std::vector<errtest::Record> records = Records();
    ASSERT_EQ(records.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].source, "Quenlix");
        EXPECT_EQ(records[i].type, cases[i].expectedType);
        EXPECT_EQ(records[i].category, 0);
        EXPECT_EQ(records[i].eventId, cases[i].expectedId);
        EXPECT_EQ(records[i].strings, cases[i].strings);
        EXPECT_EQ(records[i].data, cases[i].data);
    }
    EXPECT_EQ(ConsoleFile(), "") << "raw records are not echoed";
}

TEST_F(ErrorsTest, TheCategoryReachesEveryLaterRecordOfEveryPathAndThread) {
    InChild(
        [] {
            errtest::EnterComWithServer();
            auto session = host::make_com<tester::TestSession>(12);
            CKesTestSession::Record(session.get());
            KesLogInfo(1, 0, nullptr, 0, nullptr);  // category 0 still
            KesSetEventCategory(7);
            KesLogInfo(2, 0, nullptr, 0, nullptr);
            std::ostream& stream = KesMakeErrorStream();
            stream << "text record";
            KesLogEvent(EVENTLOG_WARNING_TYPE, stream);
            KesRaiseError(kNotFound, "raised", "kes/c", 1);
            KES_ASSERT(false);
            std::thread([] { KesLogError(3, 0, nullptr, 0, nullptr); }).join();
            std::ostream& fatal = KesMakeErrorStream();
            fatal << "fatal";
            KesQuit(fatal);
            CKesTestSession::Remove();
        },
        {true, false, true});
    const std::vector<errtest::Record> records = Records("Quenlix");
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(records[0].category, 0);
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_EQ(records[i].category, 7) << "record " << i;
    EXPECT_EQ(records[2].strings, std::vector<std::string>{"Session 12: text record"});
    EXPECT_EQ(records[2].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(records[6].strings,
              std::vector<std::string>{"Session 12: Fatal error in session 12:  fatal"});
}

TEST_F(ErrorsTest, TextRecordsCarryTheSessionPrefixOnlyForANonzeroNumber) {
    struct Case {
        const char* name;
        bool recorded;
        LONG number;
        std::string prefix;
    };
    for (const Case& c : {Case{"no session", false, 0, ""}, Case{"session 0", true, 0, ""},
                          Case{"session 12", true, 12, "Session 12: "},
                          Case{"session -3", true, -3, "Session -3: "}}) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        InChild([&c] {
            auto session = host::make_com<tester::TestSession>(c.number);
            if (c.recorded)
                CKesTestSession::Record(session.get());
            std::ostream& stream = KesMakeErrorStream();
            stream << "text " << 1;
            KesLogEvent(EVENTLOG_INFORMATION_TYPE, stream);
            bool destroyed = false;
            std::ostream& empty = KesMakeErrorStream();
            errtest::Watch(empty, &destroyed);
            KesLogEvent(EVENTLOG_ERROR_TYPE, empty);
            EXPECT_TRUE(destroyed);
            CKesTestSession::Remove();
        });
        const std::vector<errtest::Record> records = Records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].strings, std::vector<std::string>{c.prefix + "text 1"});
        EXPECT_EQ(records[0].type, EVENTLOG_INFORMATION_TYPE);
        EXPECT_EQ(records[0].eventId, 0);
        EXPECT_TRUE(records[0].data.empty());
        EXPECT_EQ(records[1].strings, std::vector<std::string>{c.prefix});
        EXPECT_EQ(records[1].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(Console(), (std::vector<std::string>{c.prefix + "text 1", c.prefix}));
    }
}

// The event log takes no string beyond EVENTLOG_MAX_STRING_LENGTH units; a
// longer report keeps its head there, and the console shows all of it.
TEST_F(ErrorsTest, AnOverlongTextKeepsItsHeadInTheLog) {
    const std::size_t max = EVENTLOG_MAX_STRING_LENGTH;
    const std::string longText(max + 1000, 'x');
    // A character outside the basic plane straddles the limit: it goes whole.
    const std::string straddling = std::string(max - 1, 'y') + "\xF0\x9F\x98\x80" + "tail";
    InChild([&longText, &straddling] {
        for (const std::string* text : {&longText, &straddling}) {
            std::ostream& stream = KesMakeErrorStream();
            stream << *text;
            KesLogEvent(EVENTLOG_ERROR_TYPE, stream);
        }
    });
    const std::vector<errtest::Record> records = Records();
    ASSERT_EQ(records.size(), 2u);
    ASSERT_EQ(records[0].strings.size(), 1u);
    EXPECT_EQ(records[0].strings[0], longText.substr(0, max));
    ASSERT_EQ(records[1].strings.size(), 1u);
    EXPECT_EQ(records[1].strings[0], std::string(max - 1, 'y'));
    EXPECT_EQ(Console(), (std::vector<std::string>{longText, straddling}));
}

TEST_F(ErrorsTest, AnUnwritableStoreDropsRecordsAndTheCallerGoesOn) {
    // The store directory is a regular file: no store can be made there.
    const std::string blocked = Home() + "/not-a-directory";
    std::ofstream(blocked) << "x";
    InChild(
        [&blocked] {
            ::setenv("KES_HOME", blocked.c_str(), 1);
            errtest::EnterComWithServer();
            EXPECT_EQ(KesRaiseError(kNotFound, "dropped", "kes/u", 1), kNotFound);
            KesLogInfo(5, 0, nullptr, 0, nullptr);
            KES_ASSERT(false);
            host::wstring text;
            KesGetErrorMessage(kNotFound, text);
            EXPECT_EQ(text, Wide("dropped"));
        },
        {true, false, false});
    EXPECT_TRUE(Records().empty());
    const std::vector<std::string> console = Console();
    ASSERT_EQ(console.size(), 3u) << "the console echo happens all the same";
    EXPECT_EQ(console[0], errtest::ErrorReport(kNotFound, "kes/u", 1, "dropped"));
}

TEST_F(ErrorsTest, KesLogDebugDoesNothing) {
    InChild([] {
        KesLogDebug(OLESTR("%s %d"), "not read", 1);
        KesLogDebug(3, OLESTR("%s"), nullptr);
        KesLogDebug(0, nullptr);
        // Nor did it make the error context: a session recorded now still
        // gives the prefix.
        auto session = host::make_com<tester::TestSession>(12);
        CKesTestSession::Record(session.get());
        std::ostream& stream = KesMakeErrorStream();
        stream << "after";
        KesLogEvent(EVENTLOG_INFORMATION_TYPE, stream);
        CKesTestSession::Remove();
    });
    const std::vector<errtest::Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strings, std::vector<std::string>{"Session 12: after"});
    EXPECT_EQ(Console(), std::vector<std::string>{"Session 12: after"});
}

}  // namespace
