// Shared pieces of the proxy tests: a fresh console file per test, from which
// the assertion reports are read back, and a fixture that owns a simulated
// port selector and test controller and leaves nothing published.
#pragma once

#include "../tester/sinks.h"

#include <kes/application/kesportselector.h>
#include <kes/application/kestestcontroller.h>
#include <kes/application/kestestsession.h>
#include <tester/portselector.h>
#include <tester/testcontroller.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace apptest {

namespace fs = std::filesystem;

// One assertion report as the console shows it.
struct Report {
    std::string file;
    std::string line;
    std::string expression;
    bool operator==(const Report& o) const {
        return file == o.file && line == o.line && expression == o.expression;
    }
};

// The assertion reports in `console`, oldest first. Each report reaches the
// console twice in a row (once with the event-log record, once from the
// trace), so consecutive repeats of one report are taken once.
inline std::vector<Report> ParseReports(const std::string& console) {
    static const std::string kHead = "Assertion failed in ";
    std::vector<Report> reports;
    for (std::size_t at = console.find(kHead); at != std::string::npos;
         at = console.find(kHead, at + 1)) {
        std::size_t fileBegin = at + kHead.size();
        std::size_t lineAt = console.find(", line ", fileBegin);
        std::size_t colon = console.find(":\r\n", lineAt);
        if (lineAt == std::string::npos || colon == std::string::npos)
            break;
        std::size_t exprBegin = colon + 3;
        std::size_t exprEnd = console.find('\n', exprBegin);
        Report r{console.substr(fileBegin, lineAt - fileBegin),
                 console.substr(lineAt + 7, colon - lineAt - 7),
                 console.substr(exprBegin, exprEnd == std::string::npos ? std::string::npos
                                                                        : exprEnd - exprBegin)};
        if (!r.expression.empty() && r.expression.back() == '\r')
            r.expression.pop_back();
        if (reports.empty() || !(reports.back() == r))
            reports.push_back(r);
    }
    return reports;
}

class ProxyTest : public ::testing::Test {
  public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kesproxy-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        setenv("PEL_CONSOLE", (m_Dir / "console.log").c_str(), 1);
        m_Selector = host::make_com<tester::PortSelector>(tester::DefaultPortSelectorConfig(4));
        m_Controller = host::make_com<tester::TestController>();
    }

    void TearDown() override {
        CKesPortSelector::Unglobalize();
        CKesTestController::Unglobalize();
        CKesTestSession::Remove();
        m_Selector->DisconnectAllSinks();
        m_Controller->DisconnectAllSinks();
        // Whatever the test did, the servers end with only this fixture's
        // reference: no proxy or publication kept one.
        EXPECT_EQ(m_Selector->ref_count(), 1u);
        EXPECT_EQ(m_Controller->ref_count(), 1u);
        unsetenv("PEL_CONSOLE");
        std::error_code ignored;
        fs::remove_all(m_Dir, ignored);
    }

    void PublishSelector() { ASSERT_EQ(CKesPortSelector::Globalize(m_Selector.get()), S_OK); }
    void PublishController() { ASSERT_EQ(CKesTestController::Globalize(m_Controller.get()), S_OK); }

    std::string Console() const {
        std::ifstream in(m_Dir / "console.log", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The expressions of the assertions reported from `file` since the test
    // began (or since the last Forget), in order.
    std::vector<std::string> Asserted(const std::string& file) const {
        std::vector<std::string> expressions;
        for (const Report& r : ParseReports(Console())) {
            if (r.file == file)
                expressions.push_back(r.expression);
        }
        return expressions;
    }
    std::vector<std::string> SelectorAsserts() const {
        return Asserted("kes/application/kesportselector");
    }
    std::vector<std::string> ControllerAsserts() const {
        return Asserted("kes/application/kestestcontroller");
    }
    std::vector<std::string> SessionAsserts() const {
        return Asserted("kes/application/kestestsession");
    }
    // Starts the console afresh.
    void Forget() { std::ofstream(m_Dir / "console.log", std::ios::trunc); }

    fs::path m_Dir;
    host::ComPtr<tester::PortSelector> m_Selector;
    host::ComPtr<tester::TestController> m_Controller;
};

inline host::wstring W(const char* text) {
    std::string narrow(text);
    return host::wstring(narrow.begin(), narrow.end());
}

inline std::string Narrow(BSTR text) {
    std::string out;
    if (text != nullptr) {
        for (const WCHAR* p = text; *p != 0; ++p)
            out.push_back(static_cast<char>(*p));
    }
    return out;
}

}  // namespace apptest
