// Registry point reads and writes against the same work done with raw SQLite,
// both through the Win32 functions and through CKesRegistrar, and the
// tester's root directory read end to end with CKesAppRoot.
//
// Each registry benchmark has a baseline beside it: a prepared statement on
// its own connection to the very same database file (so the same table, key,
// page layout and journal state), with the same settings (WAL,
// synchronous=NORMAL, no SQLite mutex), doing the same point read or the same
// single-row write in its own transaction. The ratio of the pair is what the
// registry layer (handle table, lock, name folding, key checks) costs on top
// of the storage engine.
#include <host/registry.h>
#include <kes/registrar/kesparameterregistrar.h>
#include <kes/registrar/kesregistrar.h>

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
    std::vector<BYTE> data = sample_string();
    if (RegSetValueExW(key, kValueName(), 0, REG_SZ, data.data(),
                       static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
        std::abort();
    }
    return key;
}

// Makes sure the key and its value exist before a baseline looks for them.
void prepare_bench_value() {
    RegCloseKey(open_bench_key());
}

// The registrar's side: an application key below the registrar's root with a
// string value of the same size, and the tester's root directory.
const WCHAR* kRegistrarValueName() {
    return OLESTR("ToolDirectory");
}
const char kRegistrarValueNameFolded[] = "TOOLDIRECTORY";

host::wstring sample_text() {
    std::vector<BYTE> bytes = sample_string();
    host::wstring text;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 2)  // without the terminator
        text.push_back(static_cast<WCHAR>(bytes[i] | bytes[i + 1] << 8));
    return text;
}

void prepare_registrar_value() {
    bench_home();
    CKesRegistrar registrar;
    if (registrar.OpenKey(OLESTR("BenchApp"), KesAccessCreate) != 0 ||
        registrar.SetValue(kRegistrarValueName(), sample_text()) != 0) {
        std::abort();
    }
    CKesRegistrar product(HKEY_LOCAL_MACHINE);
    if (product.OpenKey(OLESTR("SOFTWARE\\Telmora\\Brontide"), KesAccessCreate) != 0 ||
        product.SetValue(OLESTR("Root"), sample_text()) != 0) {
        std::abort();
    }
}

// The baseline: a second connection to the registry's own database. It reads
// the row the registry wrote (the value whose folded name is `folded`) and
// writes a row of its own beside it (another value name on the same key), so
// neither side disturbs the other's row.
class raw_store {
  public:
    explicit raw_store(const char* folded = kValueNameFolded) : m_folded(folded) {
        prepare_bench_value();
        prepare_registrar_value();
        std::string path = bench_home() + "/registry.db";
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK)
            std::abort();
        sqlite3_busy_timeout(m_db, 5000);
        exec("PRAGMA synchronous=NORMAL");
        sqlite3_stmt* find = prepare("SELECT key FROM vals WHERE folded = ?1");
        sqlite3_bind_text(find, 1, m_folded.c_str(), static_cast<int>(m_folded.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(find) != SQLITE_ROW)
            std::abort();
        m_key = sqlite3_column_int64(find, 0);
        sqlite3_finalize(find);
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
        static const char kGiven[] = "RawValue";
        static const char kFolded[] = "RAWVALUE";
        sqlite3_bind_int64(m_write, 1, m_key);
        sqlite3_bind_text(m_write, 2, kGiven, sizeof kGiven - 1, SQLITE_STATIC);
        sqlite3_bind_text(m_write, 3, kFolded, sizeof kFolded - 1, SQLITE_STATIC);
        sqlite3_bind_int64(m_write, 4, REG_SZ);
        sqlite3_bind_blob(m_write, 5, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
        if (sqlite3_step(m_write) != SQLITE_DONE)
            std::abort();
        sqlite3_reset(m_write);
    }

    // Reads the registry's value into `buffer`, as a caller's buffer is filled.
    DWORD read(BYTE* buffer, DWORD capacity) {
        sqlite3_bind_int64(m_read, 1, m_key);
        sqlite3_bind_text(m_read, 2, m_folded.c_str(), static_cast<int>(m_folded.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(m_read) != SQLITE_ROW)
            std::abort();
        m_type = static_cast<DWORD>(sqlite3_column_int64(m_read, 0));
        const void* data = sqlite3_column_blob(m_read, 1);
        auto size = static_cast<DWORD>(sqlite3_column_bytes(m_read, 1));
        if (size <= capacity)
            std::memcpy(buffer, data, size);
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

    std::string m_folded;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_read = nullptr;
    sqlite3_stmt* m_write = nullptr;
    sqlite3_int64 m_key = 0;
    DWORD m_type = 0;
};

void BM_RegQueryValueString(benchmark::State& state) {
    HKEY key = open_bench_key();
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

// The same point read through CKesRegistrar::GetValue, on an open key.
void BM_RegistrarGetValueString(benchmark::State& state) {
    prepare_registrar_value();
    CKesRegistrar registrar;
    if (registrar.OpenKey(OLESTR("BenchApp"), KesAccessReadOnly) != 0)
        std::abort();
    const host::wstring name(kRegistrarValueName());
    host::wstring text;
    for (auto _ : state) {
        LONG result = registrar.GetValue(name, text, false);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(text.data());
    }
    if (text != sample_text())
        std::abort();
}
BENCHMARK(BM_RegistrarGetValueString);

// Its baseline: the raw read of the very row GetValue reads.
void BM_RawSqliteRegistrarPointRead(benchmark::State& state) {
    raw_store raw(kRegistrarValueNameFolded);
    BYTE buffer[512];
    for (auto _ : state) {
        DWORD size = raw.read(buffer, sizeof buffer);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_RawSqliteRegistrarPointRead);

// The same single-row write through CKesRegistrar::SetValue.
void BM_RegistrarSetValueString(benchmark::State& state) {
    prepare_registrar_value();
    CKesRegistrar registrar;
    if (registrar.OpenKey(OLESTR("BenchApp"), KesAccessReadWrite) != 0)
        std::abort();
    const host::wstring name(kRegistrarValueName());
    host::wstring text = sample_text();
    for (auto _ : state) {
        text[0] = static_cast<WCHAR>('A' + (text[0] + 1) % 26);  // a real change each time
        LONG result = registrar.SetValue(name, text);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_RegistrarSetValueString);

// Its baseline: a raw upsert of a sibling row on the registrar's key.
void BM_RawSqliteRegistrarSingleRowWrite(benchmark::State& state) {
    raw_store raw(kRegistrarValueNameFolded);
    std::vector<BYTE> data = sample_string();
    for (auto _ : state) {
        data[0] = static_cast<BYTE>('A' + (data[0] + 1) % 26);
        raw.write(data);
    }
}
BENCHMARK(BM_RawSqliteRegistrarSingleRowWrite);

// The tester's root directory, end to end: a registrar on HKEY_LOCAL_MACHINE,
// the open, the read, the close and the trip through the code page.
void BM_AppRootGetPath(benchmark::State& state) {
    prepare_registrar_value();
    host::wstring path;
    for (auto _ : state) {
        LONG result = CKesAppRoot::GetPath(path);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(path.data());
    }
    if (path != sample_text())
        std::abort();
}
BENCHMARK(BM_AppRootGetPath);

}  // namespace

BENCHMARK_MAIN();
