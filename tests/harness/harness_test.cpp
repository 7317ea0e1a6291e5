#include <kes/harness/kestestcomponentbc.h>
#include <kes/harness/kestestpurposebc.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The harness keeps process-wide state, so every scenario runs in a child
// process of its own, with standard error captured in a file.
struct ChildRun {
    int exit_status = -1;
    std::string output;
};

ChildRun RunInChild(const std::function<int()>& theBody) {
    char path[] = "/tmp/kes_harness_XXXXXX";
    int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    ChildRun run;
    std::fflush(stderr);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fd, 2);
        int code = theBody();
        std::fflush(stderr);
        ::_exit(code);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status))
        run.exit_status = WEXITSTATUS(status);
    std::FILE* file = std::fopen(path, "r");
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        run.output.append(buffer, count);
    std::fclose(file);
    ::close(fd);
    ::unlink(path);
    return run;
}

std::string& Log() {
    static std::string log;
    return log;
}

class Component : public KesTestComponentBC {
  public:
    explicit Component(const char* theName) : KesTestComponentBC(theName) {}

  protected:
    void initialiseComponent() override { std::fprintf(stderr, "init %s\n", getName()); }
    void finaliseComponent() override { std::fprintf(stderr, "fini %s\n", getName()); }
};

int gPurposesDestroyed = 0;

// Counts one test case per outcome and reports each failure from line 42 of
// a file named t with the text x.
class Purpose : public KesTestPurposeBC {
  public:
    Purpose(const char* theName, std::vector<bool> theOutcomes)
        : KesTestPurposeBC(theName), myOutcomes(std::move(theOutcomes)) {
        initialise();
    }
    ~Purpose() override { ++gPurposesDestroyed; }

  protected:
    Purpose(const Purpose& theOther)
        : KesTestPurposeBC(theOther), myOutcomes(theOther.myOutcomes), myIsCopy(true) {}
    void runTest() override {
        Log() += thePurpose == this ? "current" : "stale";
        Log() += myIsCopy ? "-copy:" : "-original:";
        Log() += getName();
        for (bool passed : myOutcomes) {
            if (!myTestCase(passed))
                myRecordFailure(myMakeStream("t", 42) << "x");
        }
    }
    KesTestPurposeBC* clone() const override { return new Purpose(*this); }

  private:
    std::vector<bool> myOutcomes;
    bool myIsCopy = false;
};

int RunAll() {
    KesTestComponentBC::initialiser();
    KesTestComponentBC::performTest();
    KesTestComponentBC::finaliser();
    return KesTestPurposeBC::result();
}

const char kLongName[] = "a-purpose-name-that-is-longer-than-forty-eight-characters";

std::string Padded(const std::string& theName) {
    return theName + std::string(48 - theName.size(), ' ');
}

TEST(HarnessRun, PrintsBodiesFailuresAndSummaryExactly) {
    ChildRun run = RunInChild([] {
        Component a("A");
        Purpose first("P1", {true, false, true, false, true});
        Purpose second("P3", {});
        Component b("B");
        Purpose third("P2", {true});
        Purpose fourth(kLongName, {});
        return RunAll();
    });
    const std::string long_name = kLongName;
    std::string expected = "init A\ninit B\n";
    expected += "\nA P1\nt 42 - P1 - x\nt 42 - P1 - x\n";
    expected += "\nA P3\n";
    expected += "\nB P2\n";
    expected += "\nB " + long_name + "\n";
    expected += "fini A\nfini B\n";
    expected += "\n\nTest Summary\n------------\n";
    expected += "\nInvocable Component 1 : A\n";
    expected += "  " + Padded("P1") + "  3/5\n";
    expected += "  " + Padded("P3") + "  0/0\n";
    expected += "\nInvocable Component 2 : B\n";
    expected += "  " + Padded("P2") + "  1/1\n";
    expected += "  " + long_name + "  0/0\n";  // not cut to the field
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.exit_status, 255);
}

TEST(HarnessRun, WithoutComponentsPerformTestPrintsNothingAndFinaliserOnlyTheHeader) {
    ChildRun quiet = RunInChild([] {
        KesTestComponentBC::initialiser();
        KesTestComponentBC::performTest();
        return 0;
    });
    EXPECT_EQ(quiet.output, "");
    ChildRun summary = RunInChild(RunAll);
    EXPECT_EQ(summary.output, "\n\nTest Summary\n------------\n");
    EXPECT_EQ(summary.exit_status, 255);  // no test case ran
}

TEST(HarnessVerdict, PassesOnlyWhenCasesRanAndNoneFailed) {
    struct Scenario {
        std::vector<bool> outcomes;
        int exit_status;
    };
    const Scenario scenarios[] = {
        {{}, 255},
        {{true}, 0},
        {{true, true, true}, 0},
        {{false}, 255},
        {{false, true, true}, 255},
        {{true, false}, 255},
    };
    for (const Scenario& scenario : scenarios) {
        ChildRun run = RunInChild([&] {
            Component a("A");
            Purpose p("P", scenario.outcomes);
            int before = KesTestPurposeBC::result();
            int code = RunAll();
            return before == -1 ? code : 99;
        });
        EXPECT_EQ(run.exit_status, scenario.exit_status) << run.output;
    }
}

TEST(HarnessFailure, ForeignStreamIsIgnoredAndOutsideABodyThePurposeIsNamedAsMissing) {
    ChildRun run = RunInChild([] {
        std::ostringstream foreign;
        foreign << "not printed";
        KesTestPurposeBC::myRecordFailure(foreign);
        KesTestPurposeBC::myRecordFailure(KesTestPurposeBC::myMakeStream("f.cpp", 7) << "y");
        return foreign.str() == "not printed" ? 0 : 1;
    });
    EXPECT_EQ(run.output, "f.cpp 7 - (no purpose) - y\n");
    EXPECT_EQ(run.exit_status, 0);
}

TEST(HarnessRegistration, TheCloneRunsWhileTheOriginalStaysOutside) {
    ChildRun run = RunInChild([] {
        Component a("A");
        Purpose p("P", {true});
        KesTestComponentBC::performTest();
        // The running purpose was the clone, and thePurpose is clear again.
        bool ok = Log() == "current-copy:P" && KesTestPurposeBC::thePurpose == nullptr;
        return ok ? 0 : 1;
    });
    EXPECT_EQ(run.exit_status, 0) << run.output;
}

TEST(HarnessRegistration, PurposeWithoutComponentFailsTheRun) {
    ChildRun run = RunInChild([] {
        Purpose orphan("Orphan", {true});
        Component a("A");
        Purpose p("P", {true});
        return RunAll();
    });
    const std::string warning = "No test component for test purpose Orphan\n";
    EXPECT_EQ(run.output.find(warning), 0u) << run.output;
    // It never runs and is not in the summary.
    EXPECT_EQ(run.output.find("Orphan", warning.size()), std::string::npos) << run.output;
    EXPECT_EQ(run.exit_status, 255);
}

TEST(HarnessLifetime, DestroyedComponentsDeleteTheirPurposesAndLeaveTheList) {
    ChildRun run = RunInChild([] {
        Component* a = new Component("A");
        Purpose pa("PA", {true});
        Component* b = new Component("B");
        Purpose pb1("PB1", {true});
        Purpose pb2("PB2", {true});
        Component* c = new Component("C");
        int destroyed_before = gPurposesDestroyed;
        delete b;  // from the middle
        if (gPurposesDestroyed - destroyed_before != 2)
            return 1;
        delete a;  // the first: the list moves on to C
        if (KesTestComponentBC::theComponentList != c)
            return 2;
        if (KesTestComponentBC::theComponent != c)
            return 3;
        Component d("D");  // invocation numbers keep counting
        KesTestComponentBC::finaliser();
        delete c;
        return 0;
    });
    EXPECT_EQ(run.exit_status, 0) << run.output;
    EXPECT_NE(run.output.find("\nInvocable Component 3 : C\n\nInvocable Component 4 : D\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find(": A\n"), std::string::npos);
    EXPECT_EQ(run.output.find(": B\n"), std::string::npos);
}

TEST(HarnessLifetime, DestroyingTheOnlyComponentEmptiesTheList) {
    ChildRun run = RunInChild([] {
        {
            Component a("A");
            Purpose p("P", {true});
        }
        bool empty = KesTestComponentBC::theComponentList == nullptr &&
                     KesTestComponentBC::theComponent == nullptr;
        KesTestComponentBC::performTest();
        return empty && gPurposesDestroyed == 2 ? 0 : 1;
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "");
}

}  // namespace
