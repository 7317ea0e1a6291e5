// Error-reporting costs against standard baselines, in one binary.
//
// Event log: `ReportEventW` of one 100-character record, against a raw
// SQLite insert of the same row in its own transaction into a database of
// the same layout and journal settings (WAL, synchronous=NORMAL); and
// `ReportEventW` from one thread against two threads (total records per
// second).
//
// Raising: `KesRaiseError` of one code with a caller's text, console tracing
// off and DOV_LOG_ERRORS absent, the error-message server in process, against
// `snprintf` of the same report text into a stack buffer (the cost of
// composing the text, which is what the report needs at least).
//
// See docs/performance.md for the command and the targets.
#include <host/com.h>
#include <host/eventlog.h>
#include <kes/error/keserror.h>
#include <pellib/peltrace.h>
#include <tester/errorserver.h>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <ftw.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// ---- Event log -------------------------------------------------------------

const std::string kText(100, 'r');

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

// A scratch store directory for the whole run, removed at exit. KES_HOME
// points at it before the first record is written.
const std::string& scratch_directory() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/kes-bench-eventlog-XXXXXX";
        std::string path = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        ::setenv("KES_HOME", path.c_str(), 1);
        std::atexit([] { ::nftw(scratch_directory().c_str(), remove_entry, 16, FTW_DEPTH); });
        return path;
    }();
    return dir;
}

void report_one(HANDLE source, const WCHAR* text, benchmark::State& state) {
    LPCWSTR strings[] = {text};
    if (!ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr)) {
        state.SkipWithError("ReportEventW failed");
    }
}

// One record per iteration through a source opened once. Run with one and two
// threads: the items/s counter is the total over all threads.
void BM_EventLog_ReportEventW(benchmark::State& state) {
    scratch_directory();
    const host::wstring text(kText.begin(), kText.end());
    HANDLE source = RegisterEventSourceW(nullptr, OLESTR("Quenlix"));
    for (auto _ : state)
        report_one(source, text.c_str(), state);
    DeregisterEventSource(source);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLog_ReportEventW)->Threads(1)->Threads(2)->UseRealTime();

// As the library writes a record: open the source, write, close it.
void BM_EventLog_OpenReportClose(benchmark::State& state) {
    scratch_directory();
    const host::wstring text(kText.begin(), kText.end());
    for (auto _ : state) {
        HANDLE source = RegisterEventSourceW(nullptr, OLESTR("Quenlix"));
        report_one(source, text.c_str(), state);
        DeregisterEventSource(source);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLog_OpenReportClose)->UseRealTime();

// The baseline: the same row inserted with a prepared statement, autocommit.
void BM_EventLog_SqliteInsertBaseline(benchmark::State& state) {
    const std::string path = scratch_directory() + "/baseline.db";
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 "CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY,"
                 " source TEXT NOT NULL, type INTEGER NOT NULL, category INTEGER NOT NULL,"
                 " event_id INTEGER NOT NULL, strings TEXT NOT NULL, data BLOB NOT NULL,"
                 " time TEXT NOT NULL, pid INTEGER NOT NULL, tid INTEGER NOT NULL)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO events (source, type, category, event_id, strings, data,"
                       " time, pid, tid) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                       -1, &insert, nullptr);
    const std::string strings = "[\"" + kText + "\"]";
    const std::string time = "2024-05-01T12:34:56.123456Z";
    const sqlite3_int64 pid = ::getpid();
    const sqlite3_int64 tid = ::syscall(SYS_gettid);
    for (auto _ : state) {
        sqlite3_bind_text(insert, 1, "Quenlix", 7, SQLITE_STATIC);
        sqlite3_bind_int(insert, 2, 1);
        sqlite3_bind_int(insert, 3, 0);
        sqlite3_bind_int64(insert, 4, 0);
        sqlite3_bind_text(insert, 5, strings.data(), static_cast<int>(strings.size()),
                          SQLITE_STATIC);
        sqlite3_bind_blob(insert, 6, "", 0, SQLITE_STATIC);
        sqlite3_bind_text(insert, 7, time.data(), static_cast<int>(time.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 8, pid);
        sqlite3_bind_int64(insert, 9, tid);
        if (sqlite3_step(insert) != SQLITE_DONE)
            state.SkipWithError("insert failed");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLog_SqliteInsertBaseline)->UseRealTime();

// ---- Raising ---------------------------------------------------------------

const LONG kRaisedCode = KES_E_NOT_FOUND;
const char* const kRaisedFile = "kes/util/kesenumconverterbc";
const int kRaisedLine = 45;
const char* const kRaisedText = "Enum not found in symbol table";

// COM on the benchmark thread, the simulated server registered, the "errors"
// pattern off and DOV_LOG_ERRORS absent: the path a quiet production
// process takes. Undone when the benchmark ends.
class QuietRaising {
  public:
    explicit QuietRaising(benchmark::State& state) {
        scratch_directory();
        ::unsetenv("DOV_LOG_ERRORS");
        ::unsetenv("DOV_HALT_ASSERTIONS");
        pelTraceEnable("kes.errors", false);
        m_com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        m_server = m_com && tester::RegisterErrorServer() == S_OK;
        if (!m_server)
            state.SkipWithError("cannot register the error-message server");
    }
    ~QuietRaising() {
        if (m_server)
            tester::RevokeErrorServer();
        if (m_com)
            CoUninitialize();
    }
    QuietRaising(const QuietRaising&) = delete;
    QuietRaising& operator=(const QuietRaising&) = delete;

  private:
    bool m_com = false;
    bool m_server = false;
};

void BM_Raise_KesRaiseError(benchmark::State& state) {
    QuietRaising quiet(state);
    for (auto _ : state) {
        LONG code = KesRaiseError(kRaisedCode, kRaisedText, kRaisedFile, kRaisedLine);
        benchmark::DoNotOptimize(code);
    }
}
BENCHMARK(BM_Raise_KesRaiseError);

// The stream overload, as the library itself raises.
void BM_Raise_KesRaiseErrorStream(benchmark::State& state) {
    QuietRaising quiet(state);
    for (auto _ : state) {
        std::ostream& stream = KesMakeErrorStream();
        stream << kRaisedText;
        LONG code = KesRaiseError(kRaisedCode, stream, kRaisedFile, kRaisedLine);
        benchmark::DoNotOptimize(code);
    }
}
BENCHMARK(BM_Raise_KesRaiseErrorStream);

// The baseline: the same report text, message included, composed with snprintf.
void BM_Raise_SnprintfBaseline(benchmark::State& state) {
    const std::string message = tester::StandardMessage(kRaisedCode);
    const char* code_text = message.c_str();
    benchmark::DoNotOptimize(code_text);
    char report[512];
    for (auto _ : state) {
        int length = std::snprintf(report, sizeof report, "Error 0x%x in %s, line %d:\r\n%s%s",
                                   static_cast<unsigned>(kRaisedCode), kRaisedFile, kRaisedLine,
                                   code_text, kRaisedText);
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(report);
    }
}
BENCHMARK(BM_Raise_SnprintfBaseline);

}  // namespace

BENCHMARK_MAIN();
