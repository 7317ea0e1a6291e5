// Shared set-up for the event-log tests: a fresh store directory per test,
// reading the store back, and child processes.
#pragma once

#include <host/eventlog.h>
#include <host/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace eventlog_test {

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

// Every row of the store at `db_path`, oldest first (none when it is missing).
std::vector<row> read_rows(const std::string& db_path);

// KES_HOME is a new empty directory for the test; KES_EVENTLOG_MAX_RECORDS
// is cleared.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& home() const { return m_home; }
    std::string db_path() const { return m_home + "/eventlog.db"; }

    std::vector<row> rows() const { return read_rows(db_path()); }
    std::int64_t count() const { return static_cast<std::int64_t>(rows().size()); }

  private:
    std::string m_home;
};

host::wstring wide(const std::u16string& text);

// One record through a source opened and closed for it; ReportEventW's result.
BOOL log(const char16_t* source, WORD type, WORD category, DWORD eventId,
         const std::vector<host::wstring>& strings, const std::vector<unsigned char>& data = {});
// One information record under "Test" whose only string is `text`.
BOOL log_text(const std::string& text);

// Waits at most `seconds` for a child (then kills it and fails); its exit
// status, -1 when it did not exit.
int wait_child(pid_t pid, int seconds = 60);
// Runs `body` in a forked child that exits with body's result; its status.
int run_child(const std::function<int()>& body);

// A program run with stdout and stderr captured in files of `scratch_dir`.
struct result {
    int exit_code = -1;
    std::string out;
    std::string err;
};
pid_t start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& scratch_dir);
result finish_program(pid_t pid, const std::string& scratch_dir, int seconds = 60);
result run_program(const std::string& program, const std::vector<std::string>& args,
                   const std::string& scratch_dir);

void write_file(const std::string& path, const std::string& content);

}  // namespace eventlog_test
