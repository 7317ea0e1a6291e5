#include "errors_support.h"

#include <host/com.h>
#include <kes/error/kestextconversion.h>
#include <pellib/peltrace.h>
#include <tester/errorserver.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace errtest {
namespace {

// The length of the trace prefix that starts `line`
// ("2026-12-06 12:34:56.789 [4711/4712] kes errors: "), 0 when there is none.
std::size_t PrefixLength(const std::string& line) {
    static const char kShape[] = "0000-00-00 00:00:00.000 [";
    auto digit = [&line](std::size_t i) {
        return i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    };
    std::size_t i = 0;
    for (; kShape[i] != '\0'; ++i) {
        if (kShape[i] == '0' ? !digit(i) : i >= line.size() || line[i] != kShape[i])
            return 0;
    }
    for (char end : {'/', ']'}) {
        const std::size_t start = i;
        while (digit(i))
            ++i;
        if (i == start || i >= line.size() || line[i++] != end)
            return 0;
    }
    static const std::string kModule = " kes errors: ";
    return line.compare(i, kModule.size(), kModule) == 0 ? i + kModule.size() : 0;
}

class LifetimeFacet : public std::locale::facet {
  public:
    static std::locale::id id;
    explicit LifetimeFacet(bool* flag) : std::locale::facet(0), m_Flag(flag) {}
    ~LifetimeFacet() override { *m_Flag = true; }

  private:
    bool* m_Flag;
};
std::locale::id LifetimeFacet::id;

}  // namespace

void ErrorsTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kes-errors-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_Home = pattern;
    ::setenv("KES_HOME", m_Home.c_str(), 1);
    ::setenv("PEL_CONSOLE", (m_Home + "/console.log").c_str(), 1);
    for (const char* name :
         {"KES_EVENTLOG_MAX_RECORDS", "DOV_LOG_ERRORS", "DOV_HALT_ASSERTIONS", "DOV_NO_EXIT"})
        ::unsetenv(name);
}

void ErrorsTest::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Home, ignored);
    ::unsetenv("KES_HOME");
    ::unsetenv("PEL_CONSOLE");
}

int ErrorsTest::RunChild(const std::function<void()>& body, Switches theSwitches) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only presence counts, whatever the value.
        if (theSwitches.log)
            ::setenv("DOV_LOG_ERRORS", "", 1);
        if (theSwitches.halt)
            ::setenv("DOV_HALT_ASSERTIONS", "0", 1);
        if (theSwitches.noExit)
            ::setenv("DOV_NO_EXIT", "no", 1);
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "cannot run a child process";
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ErrorsTest::InChild(const std::function<void()>& body, Switches theSwitches) {
    EXPECT_EQ(RunChild(body, theSwitches), 0) << "the child failed or ended early";
}

std::vector<Record> ErrorsTest::Records(const std::string& theSource) const {
    std::vector<Record> result;
    for (Record& record : eventlog_test::read_rows(m_Home + "/eventlog.db")) {
        if (theSource.empty() || record.source == theSource)
            result.push_back(std::move(record));
    }
    return result;
}

std::vector<std::string> ErrorsTest::Logged(const std::string& theSource) const {
    std::vector<std::string> texts;
    for (const Record& record : Records(theSource))
        texts.push_back(record.strings.empty() ? "<no string>" : record.strings[0]);
    return texts;
}

std::string ErrorsTest::ConsoleFile() const {
    std::ifstream in(m_Home + "/console.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ErrorsTest::Console() const {
    // A line without a prefix continues the entry before (a report's "\r\n").
    std::string text = ConsoleFile();
    std::vector<std::string> entries;
    if (text.empty())
        return entries;
    if (text.back() != '\n')
        ADD_FAILURE() << "console text without its final newline";
    else
        text.pop_back();
    for (std::size_t pos = 0, end = 0; end != std::string::npos; pos = end + 1) {
        end = text.find('\n', pos);
        const std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
        if (const std::size_t prefix = PrefixLength(line))
            entries.push_back(line.substr(prefix));
        else if (!entries.empty())
            entries.back() += "\n" + line;
        else
            ADD_FAILURE() << "console text without a trace prefix: " << line;
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
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(code));
    return "Error 0x" + std::string(hex) + " in " + file + ", line " + std::to_string(line) +
           ":\r\n" + Message(code) + text;
}

std::string AssertionReport(const std::string& file, int line, const std::string& expression) {
    return "Assertion failed in " + file + ", line " + std::to_string(line) + ":\r\n" + expression;
}

void Watch(std::ostream& theStream, bool* destroyed) {
    *destroyed = false;
    theStream.imbue(std::locale(theStream.getloc(), new LifetimeFacet(destroyed)));
}

}  // namespace errtest
