// Assertions, the fatal exit, the DOV_ switches, the recorded test session
// and the paths taken when the error-message server cannot help.
#include "errors_support.h"

#include <host/comptr.h>
#include <host/oleauto.h>
#include <kes/application/kestestsession.h>
#include <kes/error/keserror.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/keslog.h>
#include <tester/errorserver.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using errtest::AssertionReport;
using errtest::ErrorReport;
using errtest::ErrorsTest;
using errtest::Narrow;
using errtest::Switches;
using Texts = std::vector<std::string>;

const LONG kNotFound = static_cast<LONG>(0x8004020Au);
const std::string kThisFile = "tests/errors/assert_quit_test";
// The library's own assertions, with their line numbers written as <n>.
const std::string kNoServer =
    "Assertion failed in kes/error/keserror, line <n>:\r\nSUCCEEDED(hRes)";
const std::string kBadLookup =
    "Assertion failed in kes/error/keserror, line <n>:\r\n"
    "SUCCEEDED(hrTemp) && (pErrorMessage != 0)";

Texts Unlined(Texts theTexts) {
    for (std::string& text : theTexts) {
        for (const char* file :
             {"kes/error/keserror, line ", "kes/application/kestestsession, line "}) {
            const std::size_t at = text.find(file);
            if (at == std::string::npos)
                continue;
            const std::size_t from = at + std::strlen(file);
            text.replace(from, text.find(':', from) - from, "<n>");
        }
    }
    return theTexts;
}

constexpr int kAssertLine = __LINE__ + 2;
void FailAnAssertion() {
    KES_ASSERT(1 + 1 == 3);
}

std::string Prefixed(const std::string& theText) {
    return "Session 12: " + theText;
}

std::string Fatal(const std::string& theText) {
    return "Fatal error in session 12:  " + theText;
}

ULONG References(IUnknown* theObject) {
    theObject->AddRef();
    return theObject->Release();
}

enum class Action { Assert, Quit, RaiseWithoutServer, Raise };

TEST_F(ErrorsTest, SwitchCombinationsDecideWhereReportsGoAndWhetherTheProcessEnds) {
    struct Case {
        Action action;
        Switches switches;
        bool fatal;        // the process ends with status 255
        Texts quenlix;     // record texts under "Quenlix"
        bool managerTold;  // the manager got the first of them (unprefixed)
        Texts console;
    };
    const std::string a = AssertionReport(kThisFile, kAssertLine, "1 + 1 == 3");
    const std::string s = kNoServer;
    const std::string r = ErrorReport(kNotFound, "kes/r", 9, "lost");
    const std::string bye = "bye";
    const Switches none{}, log{true, false, false}, halt{false, true, false},
        noExit{false, false, true}, haltNoExit{false, true, true}, logHalt{true, true, false},
        all{true, true, true};
    const std::vector<Case> cases = {
        {Action::Assert, none, false, {Prefixed(a)}, false, {Prefixed(a), a}},
        {Action::Assert, noExit, false, {Prefixed(a)}, false, {Prefixed(a), a}},
        {Action::Assert, log, false, {Prefixed(a)}, false, {Prefixed(a), a}},
        {Action::Assert, halt, true, {Prefixed(Fatal(a))}, true, {Prefixed(Fatal(a))}},
        {Action::Assert, haltNoExit, false, {Prefixed(Fatal(a))}, true, {Prefixed(Fatal(a))}},
        {Action::Quit, none, true, {Prefixed(Fatal(bye))}, true, {Prefixed(Fatal(bye))}},
        {Action::Quit, noExit, false, {Prefixed(Fatal(bye))}, true, {Prefixed(Fatal(bye))}},
        {Action::Quit, logHalt, true, {Prefixed(Fatal(bye))}, true, {Prefixed(Fatal(bye))}},
        {Action::RaiseWithoutServer, none, false, {Prefixed(s)}, false, {Prefixed(s), s}},
        {Action::RaiseWithoutServer, log, false, {Prefixed(s)}, false, {Prefixed(s), s}},
        {Action::RaiseWithoutServer, halt, true, {Prefixed(Fatal(s))}, true, {Prefixed(Fatal(s))}},
        {Action::RaiseWithoutServer,
         haltNoExit,
         false,
         {Prefixed(Fatal(s))},
         true,
         {Prefixed(Fatal(s))}},
        {Action::Raise, none, false, {}, false, {r}},
        {Action::Raise, halt, false, {}, false, {r}},
        {Action::Raise, all, false, {Prefixed(r)}, false, {Prefixed(r)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases.data());
        Reset();
        const int status = RunChild(
            [&c] {
                ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
                if (c.action != Action::RaiseWithoutServer) {
                    ASSERT_EQ(tester::RegisterErrorServer(), S_OK);
                }
                auto session = host::make_com<tester::TestSession>(12);
                CKesTestSession::Record(session.get());
                if (c.action == Action::Assert) {
                    FailAnAssertion();
                } else if (c.action == Action::Quit) {
                    std::ostream& stream = KesMakeErrorStream();
                    stream << "bye";
                    KesQuit(stream);
                } else {
                    EXPECT_EQ(KesRaiseError(kNotFound, "lost", "kes/r", 9), kNotFound);
                    host::wstring text;
                    KesGetErrorMessage(kNotFound, text);
                    EXPECT_EQ(Narrow(text), "lost") << "the text stays recorded";
                }
                // Still running: the manager holds what it was told.
                const std::vector<tester::FatalReport> reports = session->Manager()->Reports();
                ASSERT_EQ(reports.size(), c.managerTold ? 1u : 0u);
                if (c.managerTold) {
                    EXPECT_EQ(reports[0].session, 12);
                    EXPECT_EQ(Unlined({Prefixed(Narrow(reports[0].text))}), Texts{c.quenlix[0]});
                }
                CKesTestSession::Remove();
            },
            c.switches);
        EXPECT_EQ(status, c.fatal ? 255 : 0);
        EXPECT_EQ(Unlined(Logged("Quenlix")), c.quenlix);
        for (const errtest::Record& record : Records("Quenlix")) {
            EXPECT_EQ(record.type, EVENTLOG_ERROR_TYPE);
            EXPECT_EQ(record.event_id, 0);
        }
        // The manager logs "Session <n>: <text>" under a source of its own.
        EXPECT_EQ(Unlined(Logged("TesterSessionManager")),
                  c.managerTold ? Texts{c.quenlix[0]} : Texts{});
        EXPECT_EQ(Unlined(Console()), c.console);
    }
}

// Two failing assertions among passing ones; returns how many statements
// after them ran.
constexpr int kCountingLine = __LINE__ + 3;
int CountingAssertions(int* evaluations) {
    int after = 0;
    KES_ASSERT(++*evaluations == 5);
    ++after;
    KES_ASSERT(++*evaluations == 2);  // holds: no report
    if (*evaluations == 2)
        KES_ASSERT(*evaluations != 2);  // line kCountingLine + 4
    else
        ++after;
    return after;
}

TEST_F(ErrorsTest, AssertionEvaluatesItsConditionOnceAndExecutionContinues) {
    InChild([] {
        int evaluations = 0;
        EXPECT_EQ(CountingAssertions(&evaluations), 1);
        EXPECT_EQ(evaluations, 2);
    });
    const std::string first = AssertionReport(kThisFile, kCountingLine, "++*evaluations == 5");
    const std::string second = AssertionReport(kThisFile, kCountingLine + 4, "*evaluations != 2");
    EXPECT_EQ(Logged("Quenlix"), (Texts{first, second}));
    // Logged (echoed without a session prefix), then shown once more.
    EXPECT_EQ(Console(), (Texts{first, first, second, second}));
}

TEST(SourceName, IsThePathBelowTheRootWithoutExtension) {
    EXPECT_STREQ(KES_SOURCE_FILE, kThisFile.c_str());
#define EXPECT_SOURCE_NAME(literal, expected) \
    EXPECT_STREQ(::kes_detail::SourceName<sizeof(literal)>(literal).text, expected) << literal
    EXPECT_SOURCE_NAME("kes/error/keserror.cpp", "kes/error/keserror");
    EXPECT_SOURCE_NAME("/usr/include/kes/sync/kescriticalsection.h", "kes/sync/kescriticalsection");
    EXPECT_SOURCE_NAME("/a/kes/b/kes/c.h", "kes/c");
    EXPECT_SOURCE_NAME("dir.v2/file", "dir.v2/file");
    EXPECT_SOURCE_NAME("x.tar.gz", "x.tar");
#undef EXPECT_SOURCE_NAME
}

// ---- The fatal exit -------------------------------------------------------------

TEST_F(ErrorsTest, FatalExitRunsNoExitHandlersAndFlushesNothing) {
    const std::string marker = Home() + "/atexit-ran";
    const std::string out = Home() + "/stdout";
    const int status = RunChild([&marker, &out] {
        static std::string theMarker = marker;
        std::atexit([] { std::ofstream(theMarker) << "ran"; });
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::close(fd);
        std::setvbuf(stdout, nullptr, _IOFBF, 4096);
        std::printf("buffered, never flushed");
        std::ostream& stream = KesMakeErrorStream();
        stream << "the end";
        KesQuit(stream);
        std::printf("returned from KesQuit");
    });
    EXPECT_EQ(status, 255);
    EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "an exit handler ran";
    std::ifstream in(out);
    EXPECT_EQ(in.peek(), std::ifstream::traits_type::eof()) << "stdout was flushed";
    // Without a session: no session part, no manager.
    EXPECT_EQ(Logged("Quenlix"), Texts{"Fatal error:  the end"}) << "committed before the end";
    EXPECT_EQ(Console(), Texts{"Fatal error:  the end"});
    EXPECT_TRUE(Records("TesterSessionManager").empty());
}

// Records keep session 0 (no prefix) for good, while KesQuit asks anew.
TEST_F(ErrorsTest, ContextMadeBeforeRecordKeepsSessionZeroButQuitAsksTheSession) {
    InChild(
        [] {
            errtest::EnterComWithServer();
            KesSetEventCategory(3);
            auto session = host::make_com<tester::TestSession>(12);
            CKesTestSession::Record(session.get());
            EXPECT_EQ(CKesErrorContext::Instance().SessionNumber(), 0);
            KesRaiseError(kNotFound, "late", "kes/l", 1);
            FailAnAssertion();
            session->SetSessionNumber(13);
            std::ostream& stream = KesMakeErrorStream();
            stream << "fetched anew";
            KesQuit(stream);
            const std::vector<tester::FatalReport> reports = session->Manager()->Reports();
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].session, 13);
            EXPECT_EQ(Narrow(reports[0].text), "Fatal error in session 13:  fetched anew");
            CKesTestSession::Remove();
        },
        {true, false, true});
    EXPECT_EQ(Logged("Quenlix"), (Texts{ErrorReport(kNotFound, "kes/l", 1, "late"),
                                        AssertionReport(kThisFile, kAssertLine, "1 + 1 == 3"),
                                        "Fatal error in session 13:  fetched anew"}));
    for (const errtest::Record& record : Records("Quenlix"))
        EXPECT_EQ(record.category, 3);
}

// A session that hands out what it is told to for "DovSessionManager".
class FakeSession : public host::ComObject<IDovTestSession> {
  public:
    HRESULT GetSessionNumber(LONG* number) override {
        *number = 21;
        return S_OK;
    }
    HRESULT GetSessionObject(BSTR name, IUnknown** object) override {
        ++m_Calls;
        m_Name = name != nullptr ? Narrow(host::wstring(name, SysStringLen(name))) : "<null>";
        *object = SUCCEEDED(m_Result) ? m_Object : nullptr;
        if (*object != nullptr)
            (*object)->AddRef();
        return m_Result;
    }

    HRESULT m_Result = S_OK;
    IUnknown* m_Object = nullptr;
    int m_Calls = 0;
    std::string m_Name;
};

// Every way to the manager: a failure skips the rest quietly; every
// reference taken on the way is given back.
TEST_F(ErrorsTest, TellingTheManagerTakesEveryStepAndBalancesReferences) {
    enum class Hands { Nothing, Lookup, Manager };
    struct Case {
        const char* name;
        HRESULT result;
        Hands hands;
    };
    for (const Case& c : {Case{"GetSessionObject fails", E_FAIL, Hands::Manager},
                          Case{"no object", S_OK, Hands::Nothing},
                          Case{"an object without the manager interface", S_OK, Hands::Lookup},
                          Case{"the manager", S_OK, Hands::Manager}}) {
        SCOPED_TRACE(c.name);
        Reset();
        InChild(
            [&c] {
                auto session = host::make_com<FakeSession>();
                auto manager = host::make_com<tester::SessionManager>();
                IDovErrorLookup* lookup = tester::CreateErrorServer();
                session->m_Result = c.result;
                session->m_Object = c.hands == Hands::Lookup    ? lookup
                                    : c.hands == Hands::Manager ? manager->identity()
                                                                : nullptr;
                CKesTestSession::Record(session.get());
                const ULONG sessionRefs = References(session->identity());
                const ULONG managerRefs = References(manager->identity());
                bool destroyed = false;
                std::ostream& stream = KesMakeErrorStream();
                errtest::Watch(stream, &destroyed);
                stream << "told";
                KesQuit(stream);
                EXPECT_TRUE(destroyed);
                EXPECT_EQ(session->m_Calls, 1);
                EXPECT_EQ(session->m_Name, "DovSessionManager");
                EXPECT_EQ(References(session->identity()), sessionRefs);
                EXPECT_EQ(References(manager->identity()), managerRefs);
                EXPECT_EQ(References(lookup), 1u);
                const bool told = c.result == S_OK && c.hands == Hands::Manager;
                ASSERT_EQ(manager->Reports().size(), told ? 1u : 0u);
                if (told) {
                    EXPECT_EQ(manager->Reports()[0].session, 21);
                    EXPECT_EQ(Narrow(manager->Reports()[0].text),
                              "Fatal error in session 21:  told");
                }
                CKesTestSession::Remove();
                lookup->Release();
            },
            {false, false, true});
        EXPECT_EQ(Logged("Quenlix"), Texts{"Session 21: Fatal error in session 21:  told"});
    }
}

// ---- The recorded test session ----------------------------------------------------

TEST_F(ErrorsTest, RecordRemoveAndGetTestSessionTakeNoReference) {
    InChild([] {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(CKesTestSession::GetTestSession(&out), S_OK);
        EXPECT_EQ(out, nullptr);
        auto session = host::make_com<tester::TestSession>(12);
        auto second = host::make_com<tester::TestSession>(4);
        const ULONG refs = References(session->identity());
        EXPECT_EQ(CKesTestSession::Record(session.get()), S_OK);
        EXPECT_EQ(CKesTestSession::GetTestSession(&out), S_OK);
        EXPECT_EQ(out, static_cast<IDovTestSession*>(session.get()));
        EXPECT_EQ(References(session->identity()), refs);
        EXPECT_EQ(CKesTestSession::Record(second.get()), S_OK) << "replaces the first";
        CKesTestSession::GetTestSession(&out);
        EXPECT_EQ(out, static_cast<IDovTestSession*>(second.get()));
        EXPECT_EQ(CKesTestSession::Remove(), S_OK);
        CKesTestSession::GetTestSession(&out);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(References(session->identity()), refs);
        EXPECT_EQ(References(second->identity()), refs);

        CKesTestSession::Record(session.get());
        EXPECT_EQ(CKesTestSession::Record(nullptr), S_OK);
        CKesTestSession::GetTestSession(&out);
        EXPECT_EQ(out, nullptr) << "a null record leaves no session recorded";
    });
    // The assertion made the context while the first session was recorded.
    const std::string report =
        "Assertion failed in kes/application/kestestsession, line <n>:\r\npi != 0";
    EXPECT_EQ(Unlined(Logged("Quenlix")), Texts{Prefixed(report)});
    EXPECT_EQ(Unlined(Console()), (Texts{Prefixed(report), report}));
}

// ---- When the error-message server cannot help --------------------------------------

TEST_F(ErrorsTest, AThreadOutsideComTakesTheAssertionPathAndKeepsTheText) {
    InChild([] {
        errtest::EnterComWithServer();
        LONG result = 0;
        std::thread outside(
            [&result] { result = KesRaiseError(kNotFound, "outside", "kes/o", 4); });
        outside.join();
        EXPECT_EQ(result, kNotFound);
        host::wstring text;
        KesGetLastErrorMessage(kNotFound, text);
        EXPECT_EQ(Narrow(text), "outside");
        KesRaiseError(kNotFound, "inside", "kes/o", 5);
    });
    EXPECT_EQ(Unlined(Logged("Quenlix")), Texts{kNoServer});
    EXPECT_EQ(Unlined(Console()),
              (Texts{kNoServer, kNoServer, ErrorReport(kNotFound, "kes/o", 5, "inside")}));
}

std::atomic<int> g_LiveLookups{0};

// A lookup object that answers with `Result` and, when `WithText`, a text.
template <HRESULT Result, bool WithText>
class OddLookup : public host::ComObject<IDovErrorLookup> {
  public:
    OddLookup() { ++g_LiveLookups; }
    ~OddLookup() override { --g_LiveLookups; }
    HRESULT LookupMessage(LONG, BSTR* message) override {
        *message = WithText ? SysAllocString(OLESTR("odd message ")) : nullptr;
        return Result;
    }
};

template <class Lookup>
void RaiseThrough(const char* theText) {
    auto factory = host::make_com<host::ClassFactory<Lookup>>();
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_DovErrorLookup, factory->identity(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    EXPECT_EQ(KesRaiseError(kNotFound, theText, "kes/k", 8), kNotFound);
    EXPECT_EQ(g_LiveLookups.load(), 0) << "the lookup object is released at once";
    CoRevokeClassObject(cookie);
}

TEST_F(ErrorsTest, AFailedOrEmptyLookupTakesTheSecondAssertion) {
    InChild([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        RaiseThrough<OddLookup<E_FAIL, true>>("failed lookup");
        RaiseThrough<OddLookup<S_OK, false>>("null message");
        RaiseThrough<OddLookup<S_FALSE, true>>("S_FALSE is a success");
        host::wstring text;
        KesGetErrorMessage(kNotFound, text);
        EXPECT_EQ(Narrow(text), "S_FALSE is a success\r\nnull message\r\nfailed lookup");
    });
    EXPECT_EQ(Unlined(Logged("Quenlix")), (Texts{kBadLookup, kBadLookup}));
    EXPECT_EQ(Unlined(Console()),
              (Texts{kBadLookup, kBadLookup, kBadLookup, kBadLookup,
                     "Error 0x8004020a in kes/k, line 8:\r\nodd message S_FALSE is a success"}));
}

}  // namespace
