#include "eventlog_fixture.h"

#include <host/error.h>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace eventlog_test {
namespace {

std::string column_text(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text == nullptr
               ? std::string()
               : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, column)));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

void StoreTest::SetUp() {
    char pattern[] = "/tmp/kes-eventlog-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_home = pattern;
    ::setenv("KES_HOME", m_home.c_str(), 1);
    ::unsetenv("KES_EVENTLOG_MAX_RECORDS");
}

void StoreTest::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(m_home, ignored);
    ::unsetenv("KES_HOME");
    ::unsetenv("KES_EVENTLOG_MAX_RECORDS");
}

std::vector<row> read_rows(const std::string& db_path) {
    std::vector<row> result;
    sqlite3* db = nullptr;
    if (::access(db_path.c_str(), F_OK) != 0 ||
        sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return result;
    }
    sqlite3_stmt* s = nullptr;
    sqlite3_stmt* each = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, source, type, category, event_id, strings, data, time, pid, tid"
                       " FROM events ORDER BY id",
                       -1, &s, nullptr);
    sqlite3_prepare_v2(db, "SELECT value FROM json_each(?1)", -1, &each, nullptr);
    EXPECT_NE(s, nullptr) << sqlite3_errmsg(db);
    while (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
        row r;
        r.id = sqlite3_column_int64(s, 0);
        r.source = column_text(s, 1);
        r.type = sqlite3_column_int(s, 2);
        r.category = sqlite3_column_int(s, 3);
        r.event_id = sqlite3_column_int64(s, 4);
        r.strings_json = column_text(s, 5);
        const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(s, 6));
        r.data.assign(data, data + sqlite3_column_bytes(s, 6));
        r.time = column_text(s, 7);
        r.pid = sqlite3_column_int64(s, 8);
        r.tid = sqlite3_column_int64(s, 9);
        sqlite3_bind_text(each, 1, r.strings_json.c_str(), -1, SQLITE_STATIC);
        while (sqlite3_step(each) == SQLITE_ROW)
            r.strings.push_back(column_text(each, 0));
        sqlite3_reset(each);
        result.push_back(std::move(r));
    }
    sqlite3_finalize(each);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return result;
}

host::wstring wide(const std::u16string& text) {
    return host::wstring(text.begin(), text.end());
}

BOOL log(const char16_t* source, WORD type, WORD category, DWORD eventId,
         const std::vector<host::wstring>& strings, const std::vector<unsigned char>& data) {
    host::wstring name = wide(source);
    HANDLE h = RegisterEventSourceW(nullptr, name.c_str());
    if (h == nullptr)
        return FALSE;
    std::vector<LPCWSTR> pointers;
    for (const host::wstring& s : strings)
        pointers.push_back(s.c_str());
    BOOL ok =
        ReportEventW(h, type, category, eventId, nullptr, static_cast<WORD>(pointers.size()),
                     static_cast<DWORD>(data.size()), pointers.empty() ? nullptr : pointers.data(),
                     data.empty() ? nullptr : const_cast<unsigned char*>(data.data()));
    DWORD error = GetLastError();
    DeregisterEventSource(h);
    SetLastError(error);
    return ok;
}

BOOL log_text(const std::string& text) {
    return log(u"Test", EVENTLOG_INFORMATION_TYPE, 0, 0, {host::wstring(text.begin(), text.end())});
}

int wait_child(pid_t pid, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "child " << pid << " hung";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_child(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    return wait_child(pid);
}

pid_t start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& scratch_dir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch_dir + "/child.out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch_dir + "/child.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return -1;
    }
    return pid;
}

result finish_program(pid_t pid, const std::string& scratch_dir, int seconds) {
    result r;
    if (pid < 0)
        return r;
    r.exit_code = wait_child(pid, seconds);
    r.out = read_file(scratch_dir + "/child.out");
    r.err = read_file(scratch_dir + "/child.err");
    return r;
}

result run_program(const std::string& program, const std::vector<std::string>& args,
                   const std::string& scratch_dir) {
    return finish_program(start_program(program, args, scratch_dir), scratch_dir);
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace eventlog_test
