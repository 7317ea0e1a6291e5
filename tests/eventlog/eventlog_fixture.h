// Shared set-up for the event-log tests: a fresh store directory per test,
// reading the store back, and running child processes.
#pragma once

#include <host/eventlog.h>
#include <host/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace eventlog_test {

// One stored row as the table holds it.
struct row {
    std::int64_t id = 0;
    std::string source;
    int type = 0;
    int category = 0;
    std::int64_t event_id = 0;
    std::vector<std::string> strings;  // decoded from the JSON array
    std::string strings_json;
    std::vector<unsigned char> data;
    std::string time;
    std::int64_t pid = 0;
    std::int64_t tid = 0;
};

// Points KES_HOME at a new empty directory for the life of the fixture and
// removes it afterwards; KES_EVENTLOG_MAX_RECORDS is cleared.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& home() const { return m_home; }
    std::string db_path() const { return m_home + "/eventlog.db"; }

    // Every row of the store, oldest first (empty when there is no store).
    std::vector<row> rows() const;
    std::int64_t count() const { return static_cast<std::int64_t>(rows().size()); }

  private:
    std::string m_home;
};

// UTF-16 text from a UTF-16 literal or string.
host::wstring wide(const std::u16string& text);

// Opens source `source`, writes one record with the given strings and data,
// closes the source; returns ReportEventW's result.
BOOL log(const char16_t* source, WORD type, WORD category, DWORD eventId,
         const std::vector<host::wstring>& strings, const std::vector<unsigned char>& data = {});

// Writes one information record under "Test" whose only string is `text`.
BOOL log_text(const std::string& text);

// Runs `body` in a forked child, which ends with _exit(status returned by
// body); returns the child's wait status.
int run_child(const std::function<int()>& body);

// Exit code of a child that ended normally, -1 otherwise.
int exit_code(int wait_status);

// Runs a program with `args`, stdout and stderr captured.
struct result {
    int exit_code = -1;
    std::string out;
    std::string err;
};
result run_program(const std::string& program, const std::vector<std::string>& args,
                   const std::string& scratch_dir);

// The same in two steps, for a program that runs while the test goes on.
// `finish_program` waits at most `seconds`, then kills the program and fails.
pid_t start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& scratch_dir);
result finish_program(pid_t pid, const std::string& scratch_dir, int seconds = 60);

// Creates a file with `content`.
void write_file(const std::string& path, const std::string& content);

}  // namespace eventlog_test
