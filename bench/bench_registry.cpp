// Registry point reads and writes against the same work done with raw SQLite.
//
// Each registry benchmark has a baseline beside it: a prepared statement on a
// database of the same shape (the same value table and key), with the same
// journal settings (WAL, synchronous=NORMAL), doing the same point read or
// the same single-row write in its own transaction. The ratio of the pair is
// what the registry layer (handle table, lock, name folding, key checks)
// costs on top of the storage engine.
#include <host/registry.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const WCHAR* kValueName() {
    return OLESTR("InstallDirectory");
}
const char kValueNameFolded[] = "INSTALLDIRECTORY";
const char kValueNameGiven[] = "InstallDirectory";

// "C:\Program Files\Tester\Applications" with its terminator, as REG_SZ bytes.
std::vector<BYTE> sample_string() {
    const char text[] = "C:\\Program Files\\Tester\\Applications";
    std::vector<BYTE> bytes;
    for (const char* p = text;; ++p) {
        bytes.push_back(static_cast<BYTE>(*p));
        bytes.push_back(0);
        if (*p == 0)
            break;
    }
    return bytes;
}

// A store directory of its own for the whole run.
const std::string& bench_home() {
    static const std::string home = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kesbench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        setenv("KES_HOME", pattern.c_str(), 1);
        return pattern;
    }();
    return home;
}

HKEY open_bench_key() {
    bench_home();
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, OLESTR("SOFTWARE\\Bench\\Applications\\App"), 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        std::abort();
    }
    return key;
}

// The baseline database: the registry's value table, nothing else.
class raw_store {
  public:
    raw_store() {
        std::string path = bench_home() + "/raw.db";
        if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK)
            std::abort();
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec(
            "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL,"
            " folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
            " PRIMARY KEY(key, folded)) WITHOUT ROWID");
        m_read = prepare("SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
        m_write = prepare(
            "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
            " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    }
    ~raw_store() {
        sqlite3_finalize(m_read);
        sqlite3_finalize(m_write);
        sqlite3_close(m_db);
    }
    raw_store(const raw_store&) = delete;
    raw_store& operator=(const raw_store&) = delete;

    // One autocommit statement: a transaction of its own.
    void write(const std::vector<BYTE>& data) {
        sqlite3_bind_int64(m_write, 1, 8);
        sqlite3_bind_text(m_write, 2, kValueNameGiven, -1, SQLITE_STATIC);
        sqlite3_bind_text(m_write, 3, kValueNameFolded, -1, SQLITE_STATIC);
        sqlite3_bind_int64(m_write, 4, 1);
        sqlite3_bind_blob(m_write, 5, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
        if (sqlite3_step(m_write) != SQLITE_DONE)
            std::abort();
        sqlite3_reset(m_write);
    }

    // Reads the value into `buffer`, as a caller's buffer would be filled.
    DWORD read(BYTE* buffer, DWORD capacity) {
        sqlite3_bind_int64(m_read, 1, 8);
        sqlite3_bind_text(m_read, 2, kValueNameFolded, -1, SQLITE_STATIC);
        if (sqlite3_step(m_read) != SQLITE_ROW)
            std::abort();
        auto size = static_cast<DWORD>(sqlite3_column_bytes(m_read, 1));
        if (size <= capacity)
            std::memcpy(buffer, sqlite3_column_blob(m_read, 1), size);
        sqlite3_reset(m_read);
        return size;
    }

  private:
    void exec(const char* sql) {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            std::abort();
    }
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
            SQLITE_OK) {
            std::abort();
        }
        return stmt;
    }

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_read = nullptr;
    sqlite3_stmt* m_write = nullptr;
};

void BM_RegQueryValueString(benchmark::State& state) {
    HKEY key = open_bench_key();
    std::vector<BYTE> data = sample_string();
    RegSetValueExW(key, kValueName(), 0, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
    BYTE buffer[512];
    for (auto _ : state) {
        DWORD type = 0;
        DWORD size = sizeof buffer;
        LSTATUS status = RegQueryValueExW(key, kValueName(), nullptr, &type, buffer, &size);
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(buffer);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_RegQueryValueString);

void BM_RawSqlitePointRead(benchmark::State& state) {
    raw_store raw;
    raw.write(sample_string());
    BYTE buffer[512];
    for (auto _ : state) {
        DWORD size = raw.read(buffer, sizeof buffer);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_RawSqlitePointRead);

void BM_RegSetValueString(benchmark::State& state) {
    HKEY key = open_bench_key();
    std::vector<BYTE> data = sample_string();
    for (auto _ : state) {
        data[0] = static_cast<BYTE>('A' + (data[0] + 1) % 26);  // a real change each time
        LSTATUS status = RegSetValueExW(key, kValueName(), 0, REG_SZ, data.data(),
                                        static_cast<DWORD>(data.size()));
        benchmark::DoNotOptimize(status);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_RegSetValueString);

void BM_RawSqliteSingleRowWrite(benchmark::State& state) {
    raw_store raw;
    std::vector<BYTE> data = sample_string();
    for (auto _ : state) {
        data[0] = static_cast<BYTE>('A' + (data[0] + 1) % 26);
        raw.write(data);
    }
}
BENCHMARK(BM_RawSqliteSingleRowWrite);

}  // namespace

BENCHMARK_MAIN();
