// Shared set-up for the error-reporting tests.
//
// Error reporting keeps process-wide state that cannot be reset: the error
// context (created on first use, with the session number of that moment),
// its table and the event category. So every case runs the code under test
// in a forked child (`RunChild`) and the test process itself never calls
// into error reporting; the child starts from the parent's untouched state.
// Each case gets a fresh store directory (KES_HOME, holding eventlog.db) and
// a console file (PEL_CONSOLE); the parent reads both after the child ended.
#pragma once

#include <host/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <locale>
#include <ostream>
#include <string>
#include <vector>

namespace errtest {

// One stored event record.
struct Record {
    std::string source;
    int type = 0;
    int category = 0;
    std::int64_t eventId = 0;
    std::vector<std::string> strings;  // UTF-8
    std::vector<unsigned char> data;
    std::int64_t pid = 0;
};

// How a child ended.
struct Outcome {
    bool exited = false;  // ended through exit, not a signal
    int code = -1;        // its exit status when it exited
};

// The DOV_ switches a child runs with.
struct Switches {
    bool log = false;     // DOV_LOG_ERRORS
    bool halt = false;    // DOV_HALT_ASSERTIONS
    bool noExit = false;  // DOV_NO_EXIT
};

std::string Describe(const Switches& theSwitches);

class ErrorsTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs `body` in a forked child with `theSwitches` set in its
    // environment. The child ends with 0 when `body` returns without a
    // failed expectation, 1 otherwise; a fatal error ends it earlier.
    Outcome RunChild(const std::function<void()>& body, Switches theSwitches = {});
    // RunChild, expecting the child to return normally without failures.
    void InChild(const std::function<void()>& body, Switches theSwitches = {});

    // Every record of the store, oldest first.
    std::vector<Record> Records() const;
    // The records of one source.
    std::vector<Record> Records(const std::string& theSource) const;
    // The texts written to the console under the "errors" pattern, each
    // without its trace prefix and final newline. A line that does not start
    // with a well-formed prefix fails the test.
    std::vector<std::string> Console() const;
    // The console file as written.
    std::string ConsoleFile() const;

    const std::string& Home() const { return m_Home; }

  private:
    std::string m_Home;
};

// In a child: enters COM on the calling thread (multithreaded) and makes the
// simulated error-message server available to the process.
void EnterComWithServer();
// Switches the "errors" trace pattern on or off.
void TraceErrors(bool on);

// UTF-16 from ASCII or UTF-8 text, and back.
host::wstring Wide(const std::string& theText);
std::string Narrow(const host::wstring& theText);

// The simulated server's message for `code`, as the report carries it.
std::string Message(LONG code);

// The raised-error report, composed independently of the library.
std::string ErrorReport(LONG code, const std::string& file, int line, const std::string& text);
// The failed-assertion report.
std::string AssertionReport(const std::string& file, int line, const std::string& expression);

// Attached to a stream with `Watch`, sets `*flag` when the stream is
// destroyed (its locale, which holds this facet, goes with it).
class LifetimeFacet : public std::locale::facet {
  public:
    static std::locale::id id;
    explicit LifetimeFacet(bool* flag) : std::locale::facet(0), m_Flag(flag) {}
    ~LifetimeFacet() override { *m_Flag = true; }

  private:
    bool* m_Flag;
};
void Watch(std::ostream& theStream, bool* destroyed);

}  // namespace errtest
