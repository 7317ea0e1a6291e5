// Trace patterns: installation, switching by function and by PEL_TRACE, the
// precedence between them, and the trace prefix.
#include <pellib/pelconsole.h>
#include <pellib/peltrace.h>

#include "consolefile.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using peltest::ConsoleFileTest;
using peltest::Lines;
using peltest::ReadFile;

// A record as a module defines it, installed for the test's duration. The
// selectors the process has used stay in force for later installs, so every
// test uses module names of its own. That state lives as long as the process:
// the cases pass in one run of the program (or one process each, as ctest
// runs them), not under --gtest_repeat.
class InstalledPattern {
  public:
    InstalledPattern(const char* component, const char* module, std::int32_t initial = -1)
        : m_Record{0, component, module, "tests/pellib/peltrace_test", 0, -1, initial, 0} {
        m_Number = pelTraceInstallPattern(m_Record);
    }
    ~InstalledPattern() { pelTraceRemovePattern(m_Record); }
    InstalledPattern(const InstalledPattern&) = delete;
    InstalledPattern& operator=(const InstalledPattern&) = delete;

    PelTrace_& record() { return m_Record; }
    std::int32_t word() const { return m_Record.enabled.load(); }
    int number() const { return m_Number; }

  private:
    PelTrace_ m_Record;
    int m_Number;
};

// Sets PEL_TRACE for one scope.
class TraceEnvironment {
  public:
    explicit TraceEnvironment(const char* value) { setenv("PEL_TRACE", value, 1); }
    ~TraceEnvironment() { unsetenv("PEL_TRACE"); }
};

// ---- Installation -------------------------------------------------------------

TEST(TraceInstall, KeepsTheInitialWordAndGivesAStableNumber) {
    InstalledPattern on("kes", "t_install_on");
    InstalledPattern off("kes", "t_install_off", 0);
    EXPECT_GT(on.number(), 0);
    EXPECT_NE(on.number(), off.number());
    EXPECT_EQ(pelTraceInstallPattern(on.record()), on.number());  // again: no change
    EXPECT_EQ(on.word(), -1);
    EXPECT_EQ(off.word(), 0);
}

TEST(TraceInstall, RemovedRecordsAreNoLongerSwitched) {
    InstalledPattern pattern("kes", "t_removed");
    EXPECT_EQ(pelTraceRemovePattern(pattern.record()), 1);
    EXPECT_EQ(pelTraceRemovePattern(pattern.record()), 0);
    EXPECT_EQ(pelTraceEnable("t_removed", false), 0);
    EXPECT_EQ(pattern.word(), -1);
}

// ---- Switching by function ----------------------------------------------------

TEST(TraceSwitch, ModuleNameSwitchesThatModuleInEveryComponent) {
    InstalledPattern kes("kes", "t_alpha");
    InstalledPattern other("other", "t_alpha");
    InstalledPattern unrelated("kes", "t_beta");
    EXPECT_EQ(pelTraceEnable("t_alpha", false), 2);
    EXPECT_EQ(kes.word(), 0);
    EXPECT_EQ(other.word(), 0);
    EXPECT_EQ(unrelated.word(), -1);

    EXPECT_EQ(pelTraceEnable("KES.T_Alpha", true), 1);  // names ignore ASCII case
    EXPECT_NE(kes.word(), 0);
    EXPECT_EQ(other.word(), 0);
}

TEST(TraceSwitch, ComponentWildcardSwitchesAllItsModules) {
    InstalledPattern a("t_comp", "one");
    InstalledPattern b("t_comp", "two");
    InstalledPattern elsewhere("kes", "one_t_comp");
    EXPECT_EQ(pelTraceEnable("t_comp.*", false), 2);
    EXPECT_EQ(a.word(), 0);
    EXPECT_EQ(b.word(), 0);
    EXPECT_EQ(elsewhere.word(), -1);
}

TEST(TraceSwitch, MalformedSelectorsChangeNothing) {
    InstalledPattern pattern("kes", "t_malformed");
    for (const char* bad : {"", ".", "kes.", ".t_malformed", "a.b.c", "t_malformed=on", "a b"}) {
        EXPECT_EQ(pelTraceEnable(bad, false), -1) << bad;
    }
    EXPECT_EQ(pelTraceEnable(nullptr, false), -1);
    EXPECT_EQ(pattern.word(), -1);
}

TEST(TraceSwitch, ASwitchBeforeInstallationAppliesAtInstallation) {
    EXPECT_EQ(pelTraceEnable("t_later", false), 0);
    InstalledPattern pattern("kes", "t_later");
    EXPECT_EQ(pattern.word(), 0);
}

TEST(TraceSwitch, TheLatestMatchingSwitchWins) {
    EXPECT_EQ(pelTraceEnable("t_order", false), 0);
    EXPECT_EQ(pelTraceEnable("kes.t_order", true), 0);
    InstalledPattern later("kes", "t_order");
    EXPECT_NE(later.word(), 0);
    InstalledPattern otherComponent("other", "t_order");
    EXPECT_EQ(otherComponent.word(), 0);
}

TEST(TraceSwitch, EverythingWildcardSwitchesAllPatternsNowAndLater) {
    // Runs in a child: "*" would otherwise stay in force for the other tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InstalledPattern a("kes", "t_all_a");
            InstalledPattern b("other", "t_all_b");
            bool ok = pelTraceEnable("*", false) >= 2 && a.word() == 0 && b.word() == 0;
            InstalledPattern later("third", "t_all_c");
            ok = ok && later.word() == 0;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(TraceSwitch, ReadersSeeOnlyTheTwoValuesWhileAnotherThreadSwitches) {
    InstalledPattern pattern("kes", "t_racing");
    std::atomic<bool> stop{false};
    std::atomic<int> odd{0};
    std::thread reader([&] {
        while (!stop.load()) {
            std::int32_t word = pattern.word();
            if (word != 0 && word != -1)
                odd.fetch_add(1);
        }
    });
    std::thread installer([&] {
        for (int i = 0; i < 200; ++i)
            InstalledPattern("kes", "t_racing_other");
    });
    for (int i = 0; i < 2000; ++i)
        pelTraceEnable("t_racing", i % 2 == 0);
    installer.join();
    stop.store(true);
    reader.join();
    EXPECT_EQ(odd.load(), 0);
    EXPECT_EQ(pattern.word(), 0);  // the last call switched it off
}

// ---- Switching by environment ---------------------------------------------------

TEST_F(ConsoleFileTest, EnvironmentSwitchesPatternsAtInstallation) {
    TraceEnvironment environment("t_env_off=off, kes.t_env_on=on\tt_env_one=1");
    InstalledPattern off("kes", "t_env_off");
    InstalledPattern on("kes", "t_env_on", 0);
    InstalledPattern one("kes", "t_env_one", 0);
    InstalledPattern untouched("kes", "t_env_untouched");
    EXPECT_EQ(off.word(), 0);
    EXPECT_NE(on.word(), 0);
    EXPECT_NE(one.word(), 0);
    EXPECT_EQ(untouched.word(), -1);
    EXPECT_FALSE(std::filesystem::exists(m_File));  // nothing to warn about
}

TEST_F(ConsoleFileTest, MalformedEnvironmentItemsAreSkippedWithOneWarning) {
    TraceEnvironment environment("t_envbad_a=maybe,t_envbad_b=off,=on");
    InstalledPattern a("kes", "t_envbad_a");
    InstalledPattern b("kes", "t_envbad_b");
    EXPECT_EQ(a.word(), -1);
    EXPECT_EQ(b.word(), 0);  // the good item still counts
    std::vector<std::string> lines = Lines(ReadFile(m_File));
    ASSERT_EQ(lines.size(), 2u);  // one warning per bad item, once for this value
    EXPECT_NE(lines[0].find("\"t_envbad_a=maybe\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"=on\""), std::string::npos);
}

TEST(TraceEnvironmentPrecedence, FunctionSwitchesOverrideTheEnvironment) {
    EXPECT_EQ(pelTraceEnable("t_prec", true), 0);
    TraceEnvironment environment("t_prec=off");
    InstalledPattern pattern("kes", "t_prec");
    EXPECT_NE(pattern.word(), 0);
}

// ---- The trace prefix -----------------------------------------------------------

// Splits "YYYY-MM-DD hh:mm:ss.mmm [pid/tid] rest" into its parts; false when
// the stamp is not in that shape.
bool ParseStamp(const std::string& line, long& pid, long& tid, std::string& rest) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd [";
    if (line.size() < shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == 'd' ? !digit : line[i] != shape[i])
            return false;
    }
    std::size_t at = shape.size();
    auto number = [&](long& out, char end) {
        std::size_t start = at;
        while (at < line.size() && line[at] >= '0' && line[at] <= '9')
            ++at;
        if (at == start || at >= line.size() || line[at] != end)
            return false;
        out = std::stol(line.substr(start, at - start));
        ++at;
        return true;
    };
    if (!number(pid, '/') || !number(tid, ']'))
        return false;
    if (at >= line.size() || line[at] != ' ')
        return false;
    rest = line.substr(at + 1);
    return true;
}

TEST_F(ConsoleFileTest, PrefixOfAPatternConsoleTellsTimeIdsComponentAndModule) {
    InstalledPattern pattern("kes", "errors_t_prefix");
    PelConsole(pattern.record()) << pelTraceExpression << "hello" << '\n';
    std::vector<std::string> lines = Lines(ReadFile(m_File));
    ASSERT_EQ(lines.size(), 1u);
    long pid = 0, tid = 0;
    std::string rest;
    ASSERT_TRUE(ParseStamp(lines[0], pid, tid, rest)) << lines[0];
    EXPECT_EQ(rest, "kes errors_t_prefix: hello");
    EXPECT_EQ(pid, static_cast<long>(getpid()));
    EXPECT_EQ(tid, static_cast<long>(syscall(SYS_gettid)));
}

TEST_F(ConsoleFileTest, PrefixWithoutAPatternTellsTimeAndIds) {
    PelConsole() << pelTraceExpression << "plain" << '\n';
    long pid = 0, tid = 0;
    std::string rest;
    std::string text = ReadFile(m_File);
    ASSERT_TRUE(ParseStamp(text, pid, tid, rest)) << text;
    EXPECT_EQ(rest, "plain\n");

    std::ostringstream other;  // any stream takes the prefix
    pelTraceExpression(other) << "x";
    ASSERT_TRUE(ParseStamp(other.str(), pid, tid, rest)) << other.str();
    EXPECT_EQ(rest, "x");
}

}  // namespace
