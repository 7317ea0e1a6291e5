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
using Texts = std::vector<std::string>;

const LONG kNotFound = static_cast<LONG>(0x8004020Au);

void LogText(unsigned short theType, const std::string& theText) {
    std::ostream& stream = KesMakeErrorStream();
    stream << theText;
    KesLogEvent(theType, stream);
}

TEST_F(ErrorsTest, RawRecordsKeepTheirFieldsAndTheIdentifiersLow16Bits) {
    using Writer = void (*)(DWORD, unsigned short, const unsigned short**, DWORD, const void*);
    struct Case {
        Writer writer;
        DWORD eventId;
        int expectedType;
        std::int64_t expectedId;
    };
    const Case cases[] = {
        {[](DWORD id, unsigned short n, const unsigned short** s, DWORD size, const void* d) {
             KesLogEvent(id, EVENTLOG_WARNING_TYPE, n, s, size, d);
         },
         0x00012345u, 2, 0x2345},
        {KesLogInfo, 0xFFFFu, 4, 0xFFFF},
        {KesLogWarning, 0xFFFF0000u, 2, 0},
        {KesLogError, 0x80000001u, 1, 1},
    };
    const Texts strings = {"a", "",
                           "Gr\xC3\xBC\xC3\x9F"
                           "e"};
    const std::vector<unsigned char> data = {0, 0xFF, 7};
    InChild([&] {
        std::vector<host::wstring> wide;
        for (const std::string& s : strings)
            wide.push_back(Wide(s));
        const unsigned short* pointers[] = {wide[0].c_str(), wide[1].c_str(), wide[2].c_str()};
        for (const Case& c : cases)
            c.writer(c.eventId, 3, pointers, 3, data.data());
        KesLogInfo(0, 0, nullptr, 0, nullptr);
    });
    const std::vector<errtest::Record> records = Records();
    ASSERT_EQ(records.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].source, "Quenlix");
        EXPECT_EQ(records[i].type, cases[i].expectedType);
        EXPECT_EQ(records[i].category, 0);
        EXPECT_EQ(records[i].event_id, cases[i].expectedId);
        EXPECT_EQ(records[i].strings, strings);
        EXPECT_EQ(records[i].data, data);
    }
    EXPECT_TRUE(records.back().strings.empty() && records.back().data.empty());
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
            LogText(EVENTLOG_WARNING_TYPE, "text record");
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
    EXPECT_EQ(records[2].strings, Texts{"Session 12: text record"});
    EXPECT_EQ(records[2].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(records[6].strings, Texts{"Session 12: Fatal error in session 12:  fatal"});
}

TEST_F(ErrorsTest, TextRecordsCarryTheSessionPrefixOnlyForANonzeroNumber) {
    struct Case {
        bool recorded;
        LONG number;
        std::string prefix;
    };
    for (const Case& c : {Case{false, 0, ""}, Case{true, 0, ""}, Case{true, 12, "Session 12: "},
                          Case{true, -3, "Session -3: "}}) {
        SCOPED_TRACE(c.recorded ? c.number : 99);
        Reset();
        InChild([&c] {
            auto session = host::make_com<tester::TestSession>(c.number);
            if (c.recorded)
                CKesTestSession::Record(session.get());
            LogText(EVENTLOG_INFORMATION_TYPE, "text 1");
            bool destroyed = false;
            std::ostream& empty = KesMakeErrorStream();
            errtest::Watch(empty, &destroyed);
            KesLogEvent(EVENTLOG_ERROR_TYPE, empty);
            EXPECT_TRUE(destroyed);
            CKesTestSession::Remove();
        });
        const std::vector<errtest::Record> records = Records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].strings, Texts{c.prefix + "text 1"});
        EXPECT_EQ(records[0].type, EVENTLOG_INFORMATION_TYPE);
        EXPECT_EQ(records[0].event_id, 0);
        EXPECT_TRUE(records[0].data.empty());
        EXPECT_EQ(records[1].strings, Texts{c.prefix});
        EXPECT_EQ(records[1].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(Console(), (Texts{c.prefix + "text 1", c.prefix}));
    }
}

// The event log takes no longer string: the record keeps the head, never
// half a surrogate pair; the console shows all of it.
TEST_F(ErrorsTest, AnOverlongTextKeepsItsHeadInTheLog) {
    const std::size_t max = EVENTLOG_MAX_STRING_LENGTH;
    const std::string longText(max + 1000, 'x');
    const std::string straddling = std::string(max - 1, 'y') + "\xF0\x9F\x98\x80" + "tail";
    InChild([&longText, &straddling] {
        LogText(EVENTLOG_ERROR_TYPE, longText);
        LogText(EVENTLOG_ERROR_TYPE, straddling);
    });
    EXPECT_EQ(Logged(), (Texts{longText.substr(0, max), std::string(max - 1, 'y')}));
    EXPECT_EQ(Console(), (Texts{longText, straddling}));
}

TEST_F(ErrorsTest, AnUnwritableStoreDropsRecordsAndTheCallerGoesOn) {
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
    const Texts console = Console();
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
        LogText(EVENTLOG_INFORMATION_TYPE, "after");
        CKesTestSession::Remove();
    });
    EXPECT_EQ(Logged(), Texts{"Session 12: after"});
    EXPECT_EQ(Console(), Texts{"Session 12: after"});
}

}  // namespace
