// Raising errors: the report texts on the console and in the event log, the
// recent-error table and its two fetch operations, code 0.
#include "errors_support.h"

#include <kes/application/kestestsession.h>
#include <kes/error/keserror.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/keslog.h>
#include <pellib/pelprocess.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using errtest::ErrorReport;
using errtest::ErrorsTest;
using errtest::Narrow;
using errtest::Wide;

// 0x8004020A as the library's code for "not found".
const LONG kNotFound = static_cast<LONG>(0x8004020Au);

host::wstring Fetch(LONG code, bool all) {
    host::wstring text = OLESTR("stale");  // must be replaced, also by nothing
    if (all)
        KesGetErrorMessage(code, text);
    else
        KesGetLastErrorMessage(code, text);
    return text;
}

std::size_t TableSize() {
    return CKesErrorContext::Instance().Size();
}

TEST_F(ErrorsTest, TheRequestFromTheOverviewReportsItsLineByteExact) {
    InChild([] {
        errtest::EnterComWithServer();
        std::ostream& stream = KesMakeErrorStream();
        stream << "Enum not found in symbol table";
        EXPECT_EQ(KesRaiseError(kNotFound, stream, "kes/util/kesenumconverterbc", 45), kNotFound);
    });
    const std::vector<std::string> console = Console();
    ASSERT_EQ(console.size(), 1u);
    const std::string first = "Error 0x8004020a in kes/util/kesenumconverterbc, line 45:\r\n";
    EXPECT_EQ(console[0].substr(0, first.size()), first);
    EXPECT_EQ(console[0], first + errtest::Message(kNotFound) + "Enum not found in symbol table");
    EXPECT_TRUE(Records().empty()) << "without DOV_LOG_ERRORS nothing reaches the event log";
}

struct RaiseCase {
    LONG code;
    const char* text;  // null: none
    bool viaStream;
    const char* file;
    int line;
    std::string expectedText;  // what the report appends
};

TEST_F(ErrorsTest, EveryNonzeroCodeIsReportedWithItsHexPatternAndTheCallersText) {
    const std::vector<RaiseCase> cases = {
        {1, "a positive code", false, "kes/a", 1, "a positive code"},
        {0x10, "", true, "kes/b", 0, ""},  // no leading zeros
        {-1, nullptr, false, "kes/c", 2147483647, ""},
        {static_cast<LONG>(0x80041234u), "unknown to the server", true, "kes/d", 7,
         "unknown to the server"},
        {static_cast<LONG>(0x80040225u),
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC",
         false, "x", -3,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC"},
    };
    InChild([&cases] {
        errtest::EnterComWithServer();
        for (const RaiseCase& c : cases) {
            LONG result = 0;
            if (c.viaStream) {
                std::ostream& stream = KesMakeErrorStream();
                stream << c.text;
                result = KesRaiseError(c.code, stream, c.file, c.line);
            } else {
                result = KesRaiseError(c.code, c.text, c.file, c.line);
            }
            EXPECT_EQ(result, c.code);
        }
    });
    std::vector<std::string> expected;
    for (const RaiseCase& c : cases)
        expected.push_back(ErrorReport(c.code, c.file, c.line, c.expectedText));
    EXPECT_EQ(Console(), expected);
}

TEST_F(ErrorsTest, WithDovLogErrorsTheReportIsAnErrorRecordAndEchoedOnce) {
    InChild(
        [] {
            errtest::EnterComWithServer();
            std::ostream& stream = KesMakeErrorStream();
            stream << "port " << 7 << " missing";
            EXPECT_EQ(KesRaiseError(kNotFound, stream, "kes/e", 12), kNotFound);
        },
        {true, false, false});
    const std::string report = ErrorReport(kNotFound, "kes/e", 12, "port 7 missing");
    const std::vector<errtest::Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].source, "Quenlix");
    EXPECT_EQ(records[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(records[0].category, 0);
    EXPECT_EQ(records[0].eventId, 0);
    EXPECT_EQ(records[0].strings, std::vector<std::string>{report});
    EXPECT_TRUE(records[0].data.empty());
    EXPECT_EQ(Console(), std::vector<std::string>{report});
}

// Tracing off or interrupt context: nothing on the console; the event log
// (when asked for) and the table are unaffected.
TEST_F(ErrorsTest, QuietConsoleLeavesTheLogAndTheTableAlone) {
    struct Case {
        const char* name;
        bool traceOn;
        bool interrupt;
        bool log;
    };
    for (const Case& c :
         {Case{"trace off", false, false, false}, Case{"trace off, logged", false, false, true},
          Case{"interrupt context", true, true, false},
          Case{"interrupt context, logged", true, true, true}}) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        InChild(
            [&c] {
                errtest::EnterComWithServer();
                errtest::TraceErrors(c.traceOn);
                {
                    PelProcessBC::setInterruptContext(c.interrupt);
                    EXPECT_EQ(KesRaiseError(kNotFound, "quiet", "kes/q", 3), kNotFound);
                    PelProcessBC::setInterruptContext(false);
                }
                EXPECT_EQ(Narrow(Fetch(kNotFound, true)), "quiet");
            },
            {c.log, false, false});
        EXPECT_EQ(ConsoleFile(), "");
        EXPECT_EQ(Records().size(), c.log ? 1u : 0u);
    }
}

TEST_F(ErrorsTest, CodeZeroRecordsAndReportsNothingButDestroysTheStream) {
    InChild(
        [] {
            errtest::EnterComWithServer();
            auto session = host::make_com<tester::TestSession>(12);
            EXPECT_EQ(KesRaiseError(0, "ignored", "kes/z", 1), 0);
            bool destroyed = false;
            std::ostream& stream = KesMakeErrorStream();
            errtest::Watch(stream, &destroyed);
            stream << "ignored too";
            EXPECT_FALSE(destroyed);
            EXPECT_EQ(KesRaiseError(0, stream, "kes/z", 2), 0);
            EXPECT_TRUE(destroyed) << "the stream must be destroyed for code 0 as well";

            // Code 0 did not create the error context: a session recorded
            // now still gives its number to the first records.
            CKesTestSession::Record(session.get());
            std::ostream& logged = KesMakeErrorStream();
            logged << "after";
            KesLogEvent(EVENTLOG_INFORMATION_TYPE, logged);
            EXPECT_EQ(TableSize(), 0u);
            EXPECT_EQ(Fetch(0, true), host::wstring());
            CKesTestSession::Remove();
        },
        {true, false, false});
    EXPECT_EQ(Console(), std::vector<std::string>{"Session 12: after"});
    const std::vector<errtest::Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strings, std::vector<std::string>{"Session 12: after"});
}

TEST_F(ErrorsTest, AStreamHandedToARaiseIsDestroyed) {
    InChild([] {
        errtest::EnterComWithServer();
        errtest::TraceErrors(false);
        bool destroyed = false;
        std::ostream& stream = KesMakeErrorStream();
        errtest::Watch(stream, &destroyed);
        stream << "text";
        KesRaiseError(kNotFound, stream, "kes/s", 1);
        EXPECT_TRUE(destroyed);
    });
}

// ---- The recent-error table -----------------------------------------------------

TEST_F(ErrorsTest, ElevenRaisingsLeaveTheTenNewest) {
    InChild([] {
        errtest::EnterComWithServer();
        errtest::TraceErrors(false);
        for (int i = 0; i <= 10; ++i)
            KesRaiseError(kNotFound, ("t" + std::to_string(i)).c_str(), "kes/t", i);
        EXPECT_EQ(TableSize(), 10u);
        std::string expected = "t10";
        for (int i = 9; i >= 1; --i)
            expected += "\r\nt" + std::to_string(i);
        EXPECT_EQ(Narrow(Fetch(kNotFound, true)), expected) << "t0 is the one dropped";
        EXPECT_EQ(TableSize(), 0u);
    });
}

TEST_F(ErrorsTest, BothFetchesTakeEveryEntryOfTheCode) {
    const LONG kInvalidArray = static_cast<LONG>(0x80040203u);
    struct Case {
        bool all;
        const char* expected;
    };
    for (const Case& c : {Case{true, "B\r\nA"}, Case{false, "B"}}) {
        SCOPED_TRACE(c.all ? "KesGetErrorMessage" : "KesGetLastErrorMessage");
        InChild([&c, kInvalidArray] {
            errtest::EnterComWithServer();
            errtest::TraceErrors(false);
            KesRaiseError(kInvalidArray, "A", "kes/t", 1);
            KesRaiseError(kNotFound, "other", "kes/t", 2);
            KesRaiseError(kInvalidArray, "B", "kes/t", 3);
            EXPECT_EQ(Narrow(Fetch(kInvalidArray, c.all)), c.expected);
            EXPECT_EQ(TableSize(), 1u) << "the other code stays";
            EXPECT_EQ(Fetch(kInvalidArray, true), host::wstring());
            EXPECT_EQ(Fetch(kInvalidArray, false), host::wstring());
            EXPECT_EQ(Narrow(Fetch(kNotFound, c.all)), "other");
        });
    }
}

TEST_F(ErrorsTest, TableKeepsOrderAcrossCodesAndDropsTheOldestOfAny) {
    InChild([] {
        errtest::EnterComWithServer();
        errtest::TraceErrors(false);
        const LONG x = 0x101, y = 0x102, z = 0x103;
        KesRaiseError(x, "x1", "f", 1);
        KesRaiseError(y, "y1", "f", 1);
        KesRaiseError(x, "x2", "f", 1);
        KesRaiseError(y, "y2", "f", 1);
        KesRaiseError(z, "z1", "f", 1);
        EXPECT_EQ(Fetch(0x104, true), host::wstring()) << "a code never raised";
        EXPECT_EQ(TableSize(), 5u);
        EXPECT_EQ(Narrow(Fetch(y, true)), "y2\r\ny1");
        EXPECT_EQ(TableSize(), 3u);
        // Seven more raisings of z fill the table; the eighth drops the
        // oldest entry, x1.
        for (int i = 2; i <= 8; ++i)
            KesRaiseError(z, ("z" + std::to_string(i)).c_str(), "f", 1);
        EXPECT_EQ(TableSize(), 10u);
        KesRaiseError(z, "z9", "f", 1);
        EXPECT_EQ(TableSize(), 10u);
        EXPECT_EQ(Narrow(Fetch(x, true)), "x2");
        EXPECT_EQ(Narrow(Fetch(z, false)), "z9");
        EXPECT_EQ(TableSize(), 0u);
    });
}

TEST_F(ErrorsTest, TheTableHoldsTheCallersTextWhole) {
    InChild([] {
        errtest::EnterComWithServer();
        KesRaiseError(0x201, nullptr, "kes/n", 5);
        EXPECT_EQ(TableSize(), 1u) << "a null text is recorded as the empty string";
        EXPECT_EQ(Fetch(0x201, true), host::wstring());
        EXPECT_EQ(TableSize(), 0u);

        errtest::TraceErrors(false);
        KesRaiseError(0x202,
                      "Gr\xC3\xBC\xC3\x9F"
                      "e",
                      "kes/n", 6);
        EXPECT_EQ(Fetch(0x202, true), Wide("Gr\xC3\xBC\xC3\x9F"
                                           "e"));
        // A stream's text reaches the table in full, a zero byte included.
        std::ostream& stream = KesMakeErrorStream();
        stream << "a" << '\0' << "b";
        KesRaiseError(0x203, stream, "kes/n", 7);
        const host::wstring expected = {'a', 0, 'b'};
        EXPECT_EQ(Fetch(0x203, true), expected);
    });
    const std::vector<std::string> console = Console();
    ASSERT_EQ(console.size(), 1u);
    EXPECT_EQ(console[0], ErrorReport(0x201, "kes/n", 5, "")) << "ends with the message";
}

}  // namespace
