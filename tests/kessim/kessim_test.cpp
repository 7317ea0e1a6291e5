// The simulator end to end: its report, the event-log records and registry
// values it leaves, the fatal ending and its argument checking.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // exit status, or -1 when the process did not exit
    std::string out;
    std::string err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class Kessim : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kessim-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        // The children inherit the store and nothing of the caller's switches.
        setenv("KES_HOME", (m_Dir / "store").c_str(), 1);
        unsetenv("PEL_CONSOLE");
        unsetenv("DOV_NO_EXIT");
        unsetenv("DOV_HALT_ASSERTIONS");
    }
    void TearDown() override {
        unsetenv("KES_HOME");
        std::error_code ignored;
        fs::remove_all(m_Dir, ignored);
    }

    // Runs `program arguments` through the shell with its output in files.
    Outcome Run(const char* program, const std::string& arguments) {
        const fs::path out = m_Dir / "out.txt";
        const fs::path err = m_Dir / "err.txt";
        std::string command = std::string("'") + program + "' " + arguments + " >'" + out.string() +
                              "' 2>'" + err.string() + "'";
        int raw = std::system(command.c_str());
        Outcome outcome;
        if (raw != -1 && WIFEXITED(raw))
            outcome.status = WEXITSTATUS(raw);
        outcome.out = Slurp(out);
        outcome.err = Slurp(err);
        return outcome;
    }

    fs::path m_Dir;
};

TEST_F(Kessim, RunsToCompletionAndReportsTheEssentials) {
    // Twice in one store: the second run finds the tree of the first.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        Outcome sim = Run(KESSIM_PATH, "--ports 4 --run-time 0.3");
        ASSERT_EQ(sim.status, 0) << sim.out << sim.err;
        EXPECT_EQ(sim.err, "");
        const std::string& report = sim.out;
        EXPECT_NE(report.find("simulated tester host with 4 ports"), std::string::npos);
        EXPECT_NE(report.find("plug-ins: Auditor PortMonitor TestWatcher"), std::string::npos);
        EXPECT_NE(report.find("port type DOV_PORT_GIGABIT_ETHERNET offers ISimPortCounters"),
                  std::string::npos);
        EXPECT_NE(report.find("port selector: 4 ports from HKLM\\"), std::string::npos);
        EXPECT_NE(report.find("Events from the server: 15"), std::string::npos);
        EXPECT_NE(report.find("auditor saw each of the server's 15 events once"),
                  std::string::npos);
        EXPECT_NE(report.find("configuration settled 3 times"), std::string::npos);
        EXPECT_NE(report.find("port 105 added: number 5"), std::string::npos);
        EXPECT_NE(report.find("Errors raised: 2"), std::string::npos);
        EXPECT_NE(report.find("keslog --since '"), std::string::npos);
        EXPECT_NE(report.find("Result: every step and check passed"), std::string::npos);
        EXPECT_EQ(Count(report, "FAILED"), 0) << report;
    }

    // Each run logged two information records and its two raised errors,
    // every one under the session's prefix.
    Outcome log = Run(KESLOG_PATH, "--json");
    ASSERT_EQ(log.status, 0) << log.err;
    EXPECT_EQ(Count(log.out, "\n"), 8) << log.out;
    EXPECT_EQ(Count(log.out, "\"type\":\"information\""), 4) << log.out;
    EXPECT_EQ(Count(log.out, "\"type\":\"error\""), 4) << log.out;
    EXPECT_EQ(Count(log.out, "Session 7: "), 8) << log.out;
    EXPECT_EQ(Count(log.out, "Port 102 was removed while it was reserved"), 2) << log.out;
    EXPECT_EQ(Count(log.out, "Timestamps of a stopped test cannot be reset"), 2) << log.out;

    // The console of the last run is its own file in the store.
    const std::string console = Slurp(m_Dir / "store" / "kessim-console.log");
    EXPECT_EQ(Count(console, "kes errors: Session 7: Error 0x"), 2) << console;

    Outcome reg =
        Run(KESREG_PATH, "query 'HKLM\\SOFTWARE\\Telmora\\Brontide\\Applications\\Workbench' /s");
    ASSERT_EQ(reg.status, 0) << reg.err;
    for (const char* expected :
         {"Parameters", "Ports", "RunTime", "Plugins\\PortMonitor", "IIntPortSelector",
          "DOV_PORT_GIGABIT_ETHERNET", "Simulator\\PortSelector\\Ports\\Port0003"}) {
        EXPECT_NE(reg.out.find(expected), std::string::npos) << expected << "\n" << reg.out;
    }
}

TEST_F(Kessim, FatalEndsWithStatus255AfterTheWholeReport) {
    Outcome sim = Run(KESSIM_PATH, "-p 2 -t 0.2 --fatal");
    EXPECT_EQ(sim.status, 255) << sim.out << sim.err;
    EXPECT_NE(sim.out.find("Result: every step and check passed"), std::string::npos) << sim.out;
    Outcome log = Run(KESLOG_PATH, "--source Quenlix --type error -n 1");
    ASSERT_EQ(log.status, 0) << log.err;
    EXPECT_NE(log.out.find("Session 7: Fatal error in session 7:  kessim ends with the fatal "
                           "error it was asked for"),
              std::string::npos)
        << log.out;
}

TEST_F(Kessim, BadArgumentsExitWith2AndSayWhy) {
    struct Case {
        const char* arguments;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"-p 1", "--ports takes a whole number from 2 to 256, not '1'"},
        {"--ports 257", "not '257'"},
        {"-p 2.5", "not '2.5'"},
        {"-p 4x", "not '4x'"},
        {"-t 0", "--run-time takes seconds from 0.1 to 3600, not '0'"},
        {"--run-time nan", "not 'nan'"},
        {"-t", "-t needs a value"},
        {"--bogus", "unknown option '--bogus'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        Outcome sim = Run(KESSIM_PATH, c.arguments);
        EXPECT_EQ(sim.status, 2);
        EXPECT_EQ(sim.out, "");
        EXPECT_NE(sim.err.find(c.message), std::string::npos) << sim.err;
    }
    Outcome help = Run(KESSIM_PATH, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kessim [OPTION]...", 0), 0u) << help.out;
    // Asking for help touches no store.
    EXPECT_FALSE(fs::exists(m_Dir / "store"));
}

}  // namespace
