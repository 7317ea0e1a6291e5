// Shared set-up for the error-reporting tests. Error reporting keeps state
// that cannot be reset (the error context, its session number, the event
// category), so every case runs in a forked child; the parent then reads the
// fresh store (KES_HOME) and console file (PEL_CONSOLE) of the case.
#pragma once

#include <host/types.h>

#include "../eventlog/eventlog_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <locale>
#include <ostream>
#include <string>
#include <vector>

namespace errtest {

// A stored record (event_id, strings in UTF-8, data, ...).
using Record = eventlog_test::row;

// The DOV_ switches a child runs with.
struct Switches {
    bool log = false;     // DOV_LOG_ERRORS
    bool halt = false;    // DOV_HALT_ASSERTIONS
    bool noExit = false;  // DOV_NO_EXIT
};

class ErrorsTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void Reset() {  // a fresh store and console for the next case of a table
        TearDown();
        SetUp();
    }

    // Runs `body` in a child with `theSwitches` set; returns its exit status
    // (0: no failed expectation, 1: some), or -1 when a signal ended it.
    int RunChild(const std::function<void()>& body, Switches theSwitches = {});
    // RunChild, expecting status 0.
    void InChild(const std::function<void()>& body, Switches theSwitches = {});

    // The stored records (of one source when given), oldest first.
    std::vector<Record> Records(const std::string& theSource = "") const;
    // Their first strings ("<no string>" for none).
    std::vector<std::string> Logged(const std::string& theSource = "") const;
    // The console entries of the "errors" pattern without trace prefix and
    // final newline; text without a well-formed prefix fails the test.
    std::vector<std::string> Console() const;
    std::string ConsoleFile() const;

    const std::string& Home() const { return m_Home; }

  private:
    std::string m_Home;
};

// In a child: enters COM (multithreaded) and registers the error server.
void EnterComWithServer();
void TraceErrors(bool on);

host::wstring Wide(const std::string& theText);
std::string Narrow(const host::wstring& theText);

// The simulated server's message for `code`.
std::string Message(LONG code);
// The reports, composed independently of the library.
std::string ErrorReport(LONG code, const std::string& file, int line, const std::string& text);
std::string AssertionReport(const std::string& file, int line, const std::string& expression);

// Sets `*destroyed` when `theStream` is destroyed (through a facet of its
// locale).
void Watch(std::ostream& theStream, bool* destroyed);

}  // namespace errtest
