#include "errors_support.h"

#include <host/com.h>
#include <kes/error/kestextconversion.h>
#include <pellib/peltrace.h>
#include <tester/errorserver.h>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace errtest {
namespace {

std::string ColumnText(sqlite3_stmt* theStatement, int theColumn) {
    const unsigned char* text = sqlite3_column_text(theStatement, theColumn);
    if (text == nullptr)
        return std::string();
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(theStatement, theColumn)));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of a trace prefix of the "errors" pattern at `thePos`
// ("2026-12-06 12:34:56.789 [4711/4712] kes errors: "), 0 when there is none.
std::size_t PrefixLength(const std::string& theText, std::size_t thePos) {
    static const char kTime[] = "dddd-dd-dd dd:dd:dd.ddd [";
    std::size_t i = thePos;
    for (const char* f = kTime; *f != '\0'; ++f, ++i) {
        if (i >= theText.size())
            return 0;
        if (*f == 'd' ? !IsDigit(theText[i]) : theText[i] != *f)
            return 0;
    }
    for (char separator : {'/', ']'}) {
        const std::size_t digits = i;
        while (i < theText.size() && IsDigit(theText[i]))
            ++i;
        if (i == digits || i >= theText.size() || theText[i] != separator)
            return 0;
        ++i;
    }
    static const std::string kModule = " kes errors: ";
    if (theText.compare(i, kModule.size(), kModule) != 0)
        return 0;
    return i + kModule.size() - thePos;
}

}  // namespace

std::locale::id LifetimeFacet::id;

std::string Describe(const Switches& theSwitches) {
    std::string text;
    if (theSwitches.log)
        text += " DOV_LOG_ERRORS";
    if (theSwitches.halt)
        text += " DOV_HALT_ASSERTIONS";
    if (theSwitches.noExit)
        text += " DOV_NO_EXIT";
    return text.empty() ? "(no switch)" : text.substr(1);
}

void ErrorsTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kes-errors-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_Home = pattern;
    ::setenv("KES_HOME", m_Home.c_str(), 1);
    ::setenv("PEL_CONSOLE", (m_Home + "/console.log").c_str(), 1);
    ::unsetenv("KES_EVENTLOG_MAX_RECORDS");
    for (const char* name : {"DOV_LOG_ERRORS", "DOV_HALT_ASSERTIONS", "DOV_NO_EXIT"})
        ::unsetenv(name);
}

void ErrorsTest::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Home, ignored);
    ::unsetenv("KES_HOME");
    ::unsetenv("PEL_CONSOLE");
}

Outcome ErrorsTest::RunChild(const std::function<void()>& body, Switches theSwitches) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (theSwitches.log)
            ::setenv("DOV_LOG_ERRORS", "", 1);  // only presence counts
        if (theSwitches.halt)
            ::setenv("DOV_HALT_ASSERTIONS", "0", 1);
        if (theSwitches.noExit)
            ::setenv("DOV_NO_EXIT", "no", 1);
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    Outcome outcome;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "cannot run a child process";
        return outcome;
    }
    outcome.exited = WIFEXITED(status);
    outcome.code = outcome.exited ? WEXITSTATUS(status) : -1;
    return outcome;
}

void ErrorsTest::InChild(const std::function<void()>& body, Switches theSwitches) {
    const Outcome outcome = RunChild(body, theSwitches);
    EXPECT_TRUE(outcome.exited && outcome.code == 0)
        << "the child (" << Describe(theSwitches) << ") failed or ended early, status "
        << outcome.code;
}

std::vector<Record> ErrorsTest::Records() const {
    std::vector<Record> result;
    const std::string path = m_Home + "/eventlog.db";
    if (::access(path.c_str(), F_OK) != 0)
        return result;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path;
        sqlite3_close(db);
        return result;
    }
    sqlite3_stmt* rows = nullptr;
    sqlite3_stmt* each = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT source, type, category, event_id, strings, data, pid FROM events"
                       " ORDER BY id",
                       -1, &rows, nullptr);
    sqlite3_prepare_v2(db, "SELECT value FROM json_each(?1)", -1, &each, nullptr);
    EXPECT_NE(rows, nullptr) << sqlite3_errmsg(db);
    while (rows != nullptr && sqlite3_step(rows) == SQLITE_ROW) {
        Record record;
        record.source = ColumnText(rows, 0);
        record.type = sqlite3_column_int(rows, 1);
        record.category = sqlite3_column_int(rows, 2);
        record.eventId = sqlite3_column_int64(rows, 3);
        const std::string strings = ColumnText(rows, 4);
        const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(rows, 5));
        record.data.assign(data, data + sqlite3_column_bytes(rows, 5));
        record.pid = sqlite3_column_int64(rows, 6);
        sqlite3_bind_text(each, 1, strings.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(each) == SQLITE_ROW)
            record.strings.push_back(ColumnText(each, 0));
        sqlite3_reset(each);
        result.push_back(std::move(record));
    }
    sqlite3_finalize(each);
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return result;
}

std::vector<Record> ErrorsTest::Records(const std::string& theSource) const {
    std::vector<Record> result;
    for (Record& record : Records()) {
        if (record.source == theSource)
            result.push_back(std::move(record));
    }
    return result;
}

std::string ErrorsTest::ConsoleFile() const {
    std::ifstream in(m_Home + "/console.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ErrorsTest::Console() const {
    const std::string text = ConsoleFile();
    std::vector<std::string> entries;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t prefix = PrefixLength(text, pos);
        if (prefix == 0) {
            ADD_FAILURE() << "console text without a trace prefix: " << text.substr(pos);
            break;
        }
        // The entry runs to the next line that starts with a prefix; a
        // report's own "\r\n" starts a line without one.
        std::size_t end = text.find('\n', pos + prefix);
        while (end != std::string::npos && end + 1 < text.size() &&
               PrefixLength(text, end + 1) == 0)
            end = text.find('\n', end + 1);
        if (end == std::string::npos) {
            ADD_FAILURE() << "console text without its final newline";
            end = text.size();
        }
        entries.push_back(text.substr(pos + prefix, end - pos - prefix));
        pos = end + 1;
    }
    return entries;
}

void EnterComWithServer() {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(tester::RegisterErrorServer(), S_OK);
}

void TraceErrors(bool on) {
    pelTraceEnable("errors", on);
}

host::wstring Wide(const std::string& theText) {
    return KesAnsiToWideString(theText.data(), theText.size());
}

std::string Narrow(const host::wstring& theText) {
    return KesWideToAnsiString(theText.data(), theText.size());
}

std::string Message(LONG code) {
    return tester::StandardMessage(code);
}

std::string ErrorReport(LONG code, const std::string& file, int line, const std::string& text) {
    std::ostringstream report;
    report << "Error 0x" << std::hex << static_cast<std::uint32_t>(code) << std::dec << " in "
           << file << ", line " << line << ":\r\n"
           << Message(code) << text;
    return report.str();
}

std::string AssertionReport(const std::string& file, int line, const std::string& expression) {
    return "Assertion failed in " + file + ", line " + std::to_string(line) + ":\r\n" + expression;
}

void Watch(std::ostream& theStream, bool* destroyed) {
    *destroyed = false;
    theStream.imbue(std::locale(theStream.getloc(), new LifetimeFacet(destroyed)));
}

}  // namespace errtest
