#include <host/internal/registry_store.h>

#include <host/internal/casefold.h>
#include <host/internal/utf.h>

#include <sqlite3.h>

#include <cassert>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace host {
namespace {

// Bump when the layout changes; a store with a newer layout is refused rather
// than misread.
constexpr int kSchemaVersion = 1;

// How long one operation waits for another process's write lock before it
// gives up. Writers hold the lock for one short transaction, so only a stuck
// process makes a caller wait this long.
constexpr std::int64_t kBusyTimeoutNs = 20'000'000'000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded)"
    " VALUES(1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');";

std::int64_t monotonic_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Maps an SQLite result to the registry status a caller can act on.
LSTATUS status_of(int rc, bool writing) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return ERROR_SUCCESS;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_SCHEMA:
            return ERROR_BADDB;
        case SQLITE_CANTOPEN:
            return ERROR_CANTOPEN;
        default:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

void bind_text(sqlite3_stmt* stmt, int index, const std::string& text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void bind_blob(sqlite3_stmt* stmt, int index, const BYTE* data, DWORD size) {
    // A null pointer would bind SQL NULL, which the NOT NULL column refuses.
    if (size == 0) {
        sqlite3_bind_zeroblob(stmt, index, 0);
    } else {
        sqlite3_bind_blob(stmt, index, data, static_cast<int>(size), SQLITE_STATIC);
    }
}

std::string column_text(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    int bytes = sqlite3_column_bytes(stmt, column);
    return text == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char*>(text), bytes);
}

DWORD utf16_units(const std::string& utf8) {
    return static_cast<DWORD>(utf::utf16_size(utf8.data(), utf8.size(), nullptr));
}

}  // namespace

bool make_reg_name(const WCHAR* text, std::size_t length, reg_name* out) {
    // Most names are ASCII: both forms in one pass, without a wide copy.
    std::size_t i = 0;
    while (i < length && text[i] < 0x80)
        ++i;
    if (i == length) {
        out->given.resize(length);
        out->folded.resize(length);
        for (std::size_t k = 0; k < length; ++k) {
            out->given[k] = static_cast<char>(text[k]);
            out->folded[k] = static_cast<char>(casefold::upcase(text[k]));
        }
        return true;
    }
    bool ill_formed = false;
    utf::utf8_size(text, length, &ill_formed);
    if (ill_formed)
        return false;
    out->given = utf::to_utf8(text, length);
    wstring folded(text, length);
    casefold::upcase(folded.data(), folded.size(), folded.data());
    out->folded = utf::to_utf8(folded);
    return true;
}

// ---- Statements -----------------------------------------------------------------

enum registry_store::statement_id : int {
    kBegin,
    kCommit,
    kRollback,
    kChild,
    kInsertKey,
    kKeyExists,
    kHasChild,
    kDeleteValuesOf,
    kDeleteKey,
    kEnumKey,
    kQueryValue,
    kSetValue,
    kDeleteValue,
    kEnumValue,
    kSubkeyNames,
    kValueSizes,
    kTreeProtected,
    kTreeDeleteValues,
    kTreeDeleteKeys,
    kStatementCount
};

namespace {

#define KES_REG_TREE                                  \
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL" \
    " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "

constexpr const char* kStatementText[] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2",
    // One statement, so one implicit write transaction: the key's existence
    // and the write are checked and made atomically, and a value can never be
    // attached to a key that another process has just deleted.
    "INSERT INTO vals(key, name, folded, type, data)"
    " SELECT ?1, ?2, ?3, ?4, ?5 WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1)"
    " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name FROM keys WHERE parent = ?1",
    "SELECT name, length(CAST(data AS BLOB)) FROM vals WHERE key = ?1",
    KES_REG_TREE "SELECT 1 FROM tree WHERE id <> ?2 AND id IN (?3, ?4) LIMIT 1",
    KES_REG_TREE "DELETE FROM vals WHERE key IN (SELECT id FROM tree)",
    KES_REG_TREE "DELETE FROM keys WHERE id IN (SELECT id FROM tree WHERE id <> ?2)",
};

#undef KES_REG_TREE

}  // namespace

// A prepared statement in use: reset when the scope ends, so that no read
// transaction stays open between operations (an open one would pin an old
// snapshot and hold back checkpoints).
class registry_store::statement {
  public:
    statement(registry_store& store, statement_id id) : m_stmt(store.prepare(id)) {}
    ~statement() {
        if (m_stmt != nullptr)
            sqlite3_reset(m_stmt);
    }
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;

    bool ready() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }
    int step() { return sqlite3_step(m_stmt); }

  private:
    sqlite3_stmt* m_stmt;
};

// BEGIN IMMEDIATE takes the write lock up front, so a writer that must wait
// for another process waits in the busy handler instead of failing later
// when it tries to upgrade a read snapshot. Rolled back unless committed.
class registry_store::write_transaction {
  public:
    explicit write_transaction(registry_store& store) : m_store(store) {
        m_status = m_store.run(kBegin, true);
        m_active = m_status == ERROR_SUCCESS;
    }
    ~write_transaction() {
        if (m_active && sqlite3_get_autocommit(m_store.m_db) == 0)
            m_store.run(kRollback, true);
    }
    write_transaction(const write_transaction&) = delete;
    write_transaction& operator=(const write_transaction&) = delete;

    LSTATUS status() const { return m_status; }
    LSTATUS commit() {
        LSTATUS status = m_store.run(kCommit, true);
        if (status == ERROR_SUCCESS)
            m_active = false;
        return status;
    }

  private:
    registry_store& m_store;
    LSTATUS m_status;
    bool m_active;
};

// ---- Connection -------------------------------------------------------------------

registry_store::registry_store(std::string path) : m_path(std::move(path)) {}

registry_store::~registry_store() {
    close();
}

LSTATUS registry_store::open() {
    if (m_db != nullptr)
        return ERROR_SUCCESS;
    if (m_path.empty())
        return ERROR_CANTOPEN;
    sqlite3* db = nullptr;
    // NOMUTEX: the registry's own lock serialises every use of the connection.
    int rc =
        sqlite3_open_v2(m_path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return ERROR_CANTOPEN;
    }
    m_db = db;
    m_statements.assign(kStatementCount, nullptr);
    LSTATUS status = configure();
    if (status == ERROR_SUCCESS)
        status = ensure_schema();
    if (status != ERROR_SUCCESS)
        close();
    return status;
}

void registry_store::close() {
    if (m_db == nullptr)
        return;
    for (sqlite3_stmt*& stmt : m_statements) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    sqlite3_close(m_db);
    m_db = nullptr;
    m_classesKey = 0;
}

LSTATUS registry_store::configure() {
    sqlite3_busy_handler(m_db, &registry_store::busy_wait, this);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    // WAL lets readers go on while one process writes. synchronous=NORMAL
    // (this build defaults to FULL) skips the fsync at each commit: a commit
    // has still been written to the WAL file, i.e. into the kernel's page
    // cache, before it returns, so it survives the death of the writing
    // process (SIGKILL, a crash); only a power loss or kernel crash can take
    // back the last commits, and even then the database stays consistent.
    // The pragma is per connection, so it is set on every open.
    int rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    return status_of(rc, false);
}

LSTATUS registry_store::ensure_schema() {
    auto read_version = [this](int* version) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &stmt, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(stmt);
        *version = rc == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
        sqlite3_finalize(stmt);
        return rc == SQLITE_ROW ? ERROR_SUCCESS : status_of(rc, false);
    };
    auto find_classes = [this]() {
        reg_key_id software = 0;
        LSTATUS status = child(kMachineKey, "SOFTWARE", &software);
        if (status == ERROR_SUCCESS)
            status = child(software, "CLASSES", &m_classesKey);
        return status;
    };

    int version = 0;
    LSTATUS status = read_version(&version);
    if (status != ERROR_SUCCESS)
        return status;
    if (version > kSchemaVersion)
        return ERROR_BADDB;
    if (version == kSchemaVersion && find_classes() == ERROR_SUCCESS)
        return ERROR_SUCCESS;

    // First use of this file (or its fixed keys are gone): build the layout
    // under the write lock, so that processes starting together agree.
    write_transaction txn(*this);
    if (txn.status() != ERROR_SUCCESS)
        return txn.status();
    status = read_version(&version);
    if (status != ERROR_SUCCESS)
        return status;
    if (version > kSchemaVersion)
        return ERROR_BADDB;
    int rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(m_db, "PRAGMA user_version = 1", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK)
        return status_of(rc, true);
    static_assert(kSchemaVersion == 1, "update the version written above");

    std::vector<reg_name> classes(2);
    classes[0] = {"SOFTWARE", "SOFTWARE"};
    classes[1] = {"Classes", "CLASSES"};
    reg_key_id id = kMachineKey;
    for (const reg_name& level : classes) {
        reg_key_id next = 0;
        status = child(id, level.folded, &next);
        if (status == ERROR_FILE_NOT_FOUND) {
            statement insert(*this, kInsertKey);
            if (!insert.ready())
                return ERROR_BADDB;
            sqlite3_bind_int64(insert.get(), 1, id);
            bind_text(insert.get(), 2, level.given);
            bind_text(insert.get(), 3, level.folded);
            rc = insert.step();
            if (rc != SQLITE_DONE)
                return status_of(rc, true);
            next = sqlite3_last_insert_rowid(m_db);
        } else if (status != ERROR_SUCCESS) {
            return status;
        }
        id = next;
    }
    status = txn.commit();
    if (status == ERROR_SUCCESS)
        m_classesKey = id;
    return status;
}

sqlite3_stmt* registry_store::prepare(statement_id id) {
    static_assert(sizeof(kStatementText) / sizeof(kStatementText[0]) == kStatementCount,
                  "one text per statement");
    assert(m_db != nullptr && id < kStatementCount);
    sqlite3_stmt*& slot = m_statements[id];
    if (slot == nullptr) {
        sqlite3_prepare_v3(m_db, kStatementText[id], -1, SQLITE_PREPARE_PERSISTENT, &slot, nullptr);
    }
    return slot;
}

LSTATUS registry_store::run(statement_id id, bool writing) {
    statement stmt(*this, id);
    if (!stmt.ready())
        return status_of(sqlite3_errcode(m_db), writing);
    return status_of(stmt.step(), writing);
}

int registry_store::busy_wait(void* self, int attempt) {
    auto* store = static_cast<registry_store*>(self);
    std::int64_t now = monotonic_ns();
    if (attempt == 0)
        store->m_busySince = now;
    if (now - store->m_busySince > kBusyTimeoutNs)
        return 0;
    // Short naps first, so that queued writers follow one another closely;
    // longer ones once the wait drags on, so that a stuck holder costs little.
    auto nap = std::chrono::microseconds(attempt < 20 ? 20 + 10 * attempt : 1000);
    std::this_thread::sleep_for(nap);
    return 1;
}

// ---- Keys ---------------------------------------------------------------------------

LSTATUS registry_store::check_key(reg_key_id key) {
    statement stmt(*this, kKeyExists);
    if (!stmt.ready())
        return status_of(sqlite3_errcode(m_db), false);
    sqlite3_bind_int64(stmt.get(), 1, key);
    int rc = stmt.step();
    if (rc == SQLITE_ROW)
        return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : status_of(rc, false);
}

LSTATUS registry_store::child(reg_key_id parent, const std::string& folded, reg_key_id* key) {
    statement stmt(*this, kChild);
    if (!stmt.ready())
        return status_of(sqlite3_errcode(m_db), false);
    sqlite3_bind_int64(stmt.get(), 1, parent);
    bind_text(stmt.get(), 2, folded);
    int rc = stmt.step();
    if (rc == SQLITE_ROW) {
        *key = sqlite3_column_int64(stmt.get(), 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : status_of(rc, false);
}

LSTATUS registry_store::walk(reg_key_id base, const std::vector<reg_name>& path, reg_key_id* key) {
    if (path.empty()) {
        LSTATUS status = check_key(base);
        if (status == ERROR_SUCCESS)
            *key = base;
        return status;
    }
    reg_key_id id = base;
    for (std::size_t i = 0; i < path.size(); ++i) {
        LSTATUS status = child(id, path[i].folded, &id);
        if (status == ERROR_SUCCESS)
            continue;
        // A base without the first level may be a base that no longer exists.
        if (status == ERROR_FILE_NOT_FOUND && i == 0) {
            LSTATUS base_status = check_key(base);
            if (base_status != ERROR_SUCCESS)
                return base_status;
        }
        return status;
    }
    *key = id;
    return ERROR_SUCCESS;
}

LSTATUS registry_store::has_children(reg_key_id key, bool* result) {
    statement stmt(*this, kHasChild);
    if (!stmt.ready())
        return status_of(sqlite3_errcode(m_db), false);
    sqlite3_bind_int64(stmt.get(), 1, key);
    int rc = stmt.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return status_of(rc, false);
    *result = rc == SQLITE_ROW;
    return ERROR_SUCCESS;
}

bool registry_store::is_protected(reg_key_id key) const {
    return key == kMachineKey || key == m_classesKey;
}

LSTATUS registry_store::open_path(reg_key_id base, const std::vector<reg_name>& path,
                                  reg_key_id* key) {
    return walk(base, path, key);
}

LSTATUS registry_store::create_path(reg_key_id base, const std::vector<reg_name>& path,
                                    reg_key_id* key, bool* created) {
    // Most calls open keys that exist: find out without the write lock.
    LSTATUS status = walk(base, path, key);
    if (status == ERROR_SUCCESS) {
        *created = false;
        return status;
    }
    if (status != ERROR_FILE_NOT_FOUND)
        return status;

    write_transaction txn(*this);
    if (txn.status() != ERROR_SUCCESS)
        return txn.status();
    status = check_key(base);
    if (status != ERROR_SUCCESS)
        return status;
    reg_key_id id = base;
    bool made = false;
    for (const reg_name& level : path) {
        reg_key_id next = 0;
        status = child(id, level.folded, &next);
        if (status == ERROR_SUCCESS) {
            id = next;
            made = false;
            continue;
        }
        if (status != ERROR_FILE_NOT_FOUND)
            return status;
        statement insert(*this, kInsertKey);
        if (!insert.ready())
            return status_of(sqlite3_errcode(m_db), true);
        sqlite3_bind_int64(insert.get(), 1, id);
        bind_text(insert.get(), 2, level.given);
        bind_text(insert.get(), 3, level.folded);
        int rc = insert.step();
        if (rc != SQLITE_DONE)
            return status_of(rc, true);
        id = sqlite3_last_insert_rowid(m_db);
        made = true;
    }
    status = txn.commit();
    if (status != ERROR_SUCCESS)
        return status;
    *key = id;
    *created = made;
    return ERROR_SUCCESS;
}

LSTATUS registry_store::delete_key(reg_key_id base, const std::vector<reg_name>& path) {
    write_transaction txn(*this);
    if (txn.status() != ERROR_SUCCESS)
        return txn.status();
    reg_key_id target = 0;
    LSTATUS status = walk(base, path, &target);
    if (status != ERROR_SUCCESS)
        return status;
    if (is_protected(target))
        return ERROR_ACCESS_DENIED;
    bool children = false;
    status = has_children(target, &children);
    if (status != ERROR_SUCCESS)
        return status;
    if (children)
        return ERROR_ACCESS_DENIED;
    for (statement_id id : {kDeleteValuesOf, kDeleteKey}) {
        statement stmt(*this, id);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), true);
        sqlite3_bind_int64(stmt.get(), 1, target);
        int rc = stmt.step();
        if (rc != SQLITE_DONE)
            return status_of(rc, true);
    }
    return txn.commit();
}

LSTATUS registry_store::delete_tree(reg_key_id base, const std::vector<reg_name>& path,
                                    bool keep_top) {
    write_transaction txn(*this);
    if (txn.status() != ERROR_SUCCESS)
        return txn.status();
    reg_key_id top = 0;
    LSTATUS status = walk(base, path, &top);
    if (status != ERROR_SUCCESS)
        return status;
    const reg_key_id kept = keep_top ? top : 0;
    {
        statement check(*this, kTreeProtected);
        if (!check.ready())
            return status_of(sqlite3_errcode(m_db), false);
        sqlite3_bind_int64(check.get(), 1, top);
        sqlite3_bind_int64(check.get(), 2, kept);
        sqlite3_bind_int64(check.get(), 3, kMachineKey);
        sqlite3_bind_int64(check.get(), 4, m_classesKey);
        int rc = check.step();
        if (rc == SQLITE_ROW)
            return ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE)
            return status_of(rc, false);
    }
    for (statement_id id : {kTreeDeleteValues, kTreeDeleteKeys}) {
        statement stmt(*this, id);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), true);
        sqlite3_bind_int64(stmt.get(), 1, top);
        if (id == kTreeDeleteKeys)
            sqlite3_bind_int64(stmt.get(), 2, kept);
        int rc = stmt.step();
        if (rc != SQLITE_DONE)
            return status_of(rc, true);
    }
    return txn.commit();
}

LSTATUS registry_store::enum_key(reg_key_id key, DWORD index, std::string* name) {
    {
        statement stmt(*this, kEnumKey);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), false);
        sqlite3_bind_int64(stmt.get(), 1, key);
        sqlite3_bind_int64(stmt.get(), 2, index);
        int rc = stmt.step();
        if (rc == SQLITE_ROW) {
            *name = column_text(stmt.get(), 0);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE)
            return status_of(rc, false);
    }
    LSTATUS status = check_key(key);
    return status == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : status;
}

// ---- Values ---------------------------------------------------------------------------

namespace {

// Reports a value row's type and size and copies its bytes when they fit.
void read_value(sqlite3_stmt* stmt, int type_column, DWORD* type, BYTE* buffer, DWORD capacity,
                DWORD* size) {
    *type = static_cast<DWORD>(sqlite3_column_int64(stmt, type_column));
    const void* bytes = sqlite3_column_blob(stmt, type_column + 1);
    auto length = static_cast<DWORD>(sqlite3_column_bytes(stmt, type_column + 1));
    *size = length;
    if (buffer != nullptr && length <= capacity && length != 0) {
        std::memcpy(buffer, bytes, length);
    }
}

}  // namespace

LSTATUS registry_store::query_value(reg_key_id key, const std::string& folded, DWORD* type,
                                    BYTE* buffer, DWORD capacity, DWORD* size) {
    {
        statement stmt(*this, kQueryValue);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), false);
        sqlite3_bind_int64(stmt.get(), 1, key);
        bind_text(stmt.get(), 2, folded);
        int rc = stmt.step();
        if (rc == SQLITE_ROW) {
            read_value(stmt.get(), 0, type, buffer, capacity, size);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE)
            return status_of(rc, false);
    }
    LSTATUS status = check_key(key);
    return status == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : status;
}

LSTATUS registry_store::set_value(reg_key_id key, const reg_name& name, DWORD type,
                                  const BYTE* data, DWORD size) {
    statement stmt(*this, kSetValue);
    if (!stmt.ready())
        return status_of(sqlite3_errcode(m_db), true);
    sqlite3_bind_int64(stmt.get(), 1, key);
    bind_text(stmt.get(), 2, name.given);
    bind_text(stmt.get(), 3, name.folded);
    sqlite3_bind_int64(stmt.get(), 4, type);
    bind_blob(stmt.get(), 5, data, size);
    int rc = stmt.step();
    if (rc != SQLITE_DONE)
        return status_of(rc, true);
    return sqlite3_changes(m_db) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LSTATUS registry_store::delete_value(reg_key_id key, const std::string& folded) {
    {
        statement stmt(*this, kDeleteValue);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), true);
        sqlite3_bind_int64(stmt.get(), 1, key);
        bind_text(stmt.get(), 2, folded);
        int rc = stmt.step();
        if (rc != SQLITE_DONE)
            return status_of(rc, true);
        if (sqlite3_changes(m_db) != 0)
            return ERROR_SUCCESS;
    }
    LSTATUS status = check_key(key);
    return status == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : status;
}

LSTATUS registry_store::enum_value(reg_key_id key, DWORD index, std::string* name, DWORD* type,
                                   BYTE* buffer, DWORD capacity, DWORD* size) {
    {
        statement stmt(*this, kEnumValue);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), false);
        sqlite3_bind_int64(stmt.get(), 1, key);
        sqlite3_bind_int64(stmt.get(), 2, index);
        int rc = stmt.step();
        if (rc == SQLITE_ROW) {
            *name = column_text(stmt.get(), 0);
            read_value(stmt.get(), 1, type, buffer, capacity, size);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE)
            return status_of(rc, false);
    }
    LSTATUS status = check_key(key);
    return status == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : status;
}

LSTATUS registry_store::query_info(reg_key_id key, reg_key_info* info) {
    LSTATUS status = check_key(key);
    if (status != ERROR_SUCCESS)
        return status;
    reg_key_info result;
    {
        statement stmt(*this, kSubkeyNames);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), false);
        sqlite3_bind_int64(stmt.get(), 1, key);
        int rc;
        while ((rc = stmt.step()) == SQLITE_ROW) {
            ++result.subkeys;
            DWORD units = utf16_units(column_text(stmt.get(), 0));
            if (units > result.max_subkey_units)
                result.max_subkey_units = units;
        }
        if (rc != SQLITE_DONE)
            return status_of(rc, false);
    }
    {
        statement stmt(*this, kValueSizes);
        if (!stmt.ready())
            return status_of(sqlite3_errcode(m_db), false);
        sqlite3_bind_int64(stmt.get(), 1, key);
        int rc;
        while ((rc = stmt.step()) == SQLITE_ROW) {
            ++result.values;
            DWORD units = utf16_units(column_text(stmt.get(), 0));
            if (units > result.max_value_name_units)
                result.max_value_name_units = units;
            auto bytes = static_cast<DWORD>(sqlite3_column_int64(stmt.get(), 1));
            if (bytes > result.max_value_bytes)
                result.max_value_bytes = bytes;
        }
        if (rc != SQLITE_DONE)
            return status_of(rc, false);
    }
    *info = result;
    return ERROR_SUCCESS;
}

}  // namespace host
