// Raising errors: report texts on the console and in the event log, code 0,
// the recent-error table and its two fetch operations.
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
using Texts = std::vector<std::string>;

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

// Raises through either overload and checks the code comes back.
void Raise(LONG code, const char* text, bool viaStream, const char* file, int line) {
    if (!viaStream) {
        EXPECT_EQ(KesRaiseError(code, text, file, line), code);
        return;
    }
    bool destroyed = false;
    std::ostream& stream = KesMakeErrorStream();
    errtest::Watch(stream, &destroyed);
    stream << text;
    EXPECT_EQ(KesRaiseError(code, stream, file, line), code);
    EXPECT_TRUE(destroyed) << "the stream is destroyed";
}

// Without DOV_LOG_ERRORS the console alone; with it one error record, echoed.
TEST_F(ErrorsTest, TheOverviewRequestReportsItsTextByteExact) {
    const std::string report = "Error 0x8004020a in kes/util/kesenumconverterbc, line 45:\r\n" +
                               errtest::Message(kNotFound) + "Enum not found in symbol table";
    for (const bool log : {false, true}) {
        Reset();
        InChild(
            [] {
                errtest::EnterComWithServer();
                Raise(kNotFound, "Enum not found in symbol table", true,
                      "kes/util/kesenumconverterbc", 45);
            },
            {log, false, false});
        EXPECT_EQ(Console(), Texts{report});
        EXPECT_EQ(Logged(), log ? Texts{report} : Texts{});
        for (const errtest::Record& record : Records()) {
            EXPECT_EQ(record.source, "Quenlix");
            EXPECT_EQ(record.type, EVENTLOG_ERROR_TYPE);
            EXPECT_EQ(record.category, 0);
            EXPECT_EQ(record.event_id, 0);
            EXPECT_EQ(record.strings.size(), 1u);
            EXPECT_TRUE(record.data.empty());
        }
    }
}

TEST_F(ErrorsTest, EveryNonzeroCodeIsReportedWithItsHexPatternAndTheCallersText) {
    struct Case {
        LONG code;
        const char* text;  // null: none
        bool viaStream;
        const char* file;
        int line;
    };
    const std::vector<Case> cases = {
        {1, "a positive code", false, "kes/a", 1},
        {0x10, "", true, "kes/b", 0},  // no leading zeros
        {-1, nullptr, false, "kes/c", 2147483647},
        {static_cast<LONG>(0x80041234u), "unknown to the server", true, "kes/d", 7},
        {static_cast<LONG>(0x80040225u),
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC",
         false, "x", -3},
    };
    InChild([&cases] {
        errtest::EnterComWithServer();
        for (const Case& c : cases)
            Raise(c.code, c.text, c.viaStream, c.file, c.line);
    });
    Texts expected;
    for (const Case& c : cases)
        expected.push_back(ErrorReport(c.code, c.file, c.line, c.text != nullptr ? c.text : ""));
    EXPECT_EQ(Console(), expected);
}

// Tracing off or interrupt context: nothing on the console; the event log
// (when asked for) and the table are unaffected.
TEST_F(ErrorsTest, QuietConsoleLeavesTheLogAndTheTableAlone) {
    for (const bool log : {false, true}) {
        for (const bool interrupt : {false, true}) {
            SCOPED_TRACE(std::string(interrupt ? "interrupt context" : "trace off") +
                         (log ? ", logged" : ""));
            Reset();
            InChild(
                [interrupt] {
                    errtest::EnterComWithServer();
                    errtest::TraceErrors(interrupt);
                    PelProcessBC::setInterruptContext(interrupt);
                    EXPECT_EQ(KesRaiseError(kNotFound, "quiet", "kes/q", 3), kNotFound);
                    PelProcessBC::setInterruptContext(false);
                    EXPECT_EQ(Narrow(Fetch(kNotFound, true)), "quiet");
                },
                {log, false, false});
            EXPECT_EQ(ConsoleFile(), "");
            EXPECT_EQ(Records().size(), log ? 1u : 0u);
        }
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
            EXPECT_EQ(KesRaiseError(0, stream, "kes/z", 2), 0);
            EXPECT_TRUE(destroyed) << "the stream must be destroyed for code 0 as well";
            // Code 0 did not create the error context: a session recorded
            // now still gives its number.
            CKesTestSession::Record(session.get());
            std::ostream& logged = KesMakeErrorStream();
            logged << "after";
            KesLogEvent(EVENTLOG_INFORMATION_TYPE, logged);
            EXPECT_EQ(TableSize(), 0u);
            EXPECT_EQ(Fetch(0, true), host::wstring());
            CKesTestSession::Remove();
        },
        {true, false, false});
    EXPECT_EQ(Console(), Texts{"Session 12: after"});
    EXPECT_EQ(Logged(), Texts{"Session 12: after"});
}

// ---- The recent-error table -----------------------------------------------------

TEST_F(ErrorsTest, TheTableKeepsTheTenNewestInOrderAcrossCodes) {
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
        // Eight more raisings of z: the eleventh entry drops the oldest, x1.
        for (int i = 2; i <= 9; ++i)
            KesRaiseError(z, ("z" + std::to_string(i)).c_str(), "f", 1);
        EXPECT_EQ(TableSize(), 10u);
        EXPECT_EQ(Narrow(Fetch(x, true)), "x2");
        EXPECT_EQ(Narrow(Fetch(z, true)), "z9\r\nz8\r\nz7\r\nz6\r\nz5\r\nz4\r\nz3\r\nz2\r\nz1");
        EXPECT_EQ(TableSize(), 0u);
    });
}

TEST_F(ErrorsTest, BothFetchesTakeEveryEntryOfTheCode) {
    const LONG kInvalidArray = static_cast<LONG>(0x80040203u);
    for (const bool all : {true, false}) {
        SCOPED_TRACE(all ? "KesGetErrorMessage" : "KesGetLastErrorMessage");
        InChild([all, kInvalidArray] {
            errtest::EnterComWithServer();
            errtest::TraceErrors(false);
            KesRaiseError(kInvalidArray, "A", "kes/t", 1);
            KesRaiseError(kNotFound, "other", "kes/t", 2);
            KesRaiseError(kInvalidArray, "B", "kes/t", 3);
            EXPECT_EQ(Narrow(Fetch(kInvalidArray, all)), all ? "B\r\nA" : "B");
            EXPECT_EQ(TableSize(), 1u) << "the other code stays";
            EXPECT_EQ(Fetch(kInvalidArray, true), host::wstring());
            EXPECT_EQ(Fetch(kInvalidArray, false), host::wstring());
            EXPECT_EQ(Narrow(Fetch(kNotFound, all)), "other");
        });
    }
}

TEST_F(ErrorsTest, TheTableHoldsTheCallersTextWhole) {
    InChild([] {
        errtest::EnterComWithServer();
        KesRaiseError(0x201, nullptr, "kes/n", 5);
        EXPECT_EQ(TableSize(), 1u) << "a null text is recorded as the empty string";
        EXPECT_EQ(Fetch(0x201, true), host::wstring());
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
        EXPECT_EQ(Fetch(0x203, true), (host::wstring{'a', 0, 'b'}));
    });
    EXPECT_EQ(Console(), Texts{ErrorReport(0x201, "kes/n", 5, "")}) << "ends with the message";
}

}  // namespace
