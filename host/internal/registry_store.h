// One registry database file (registry.db) and this process's connection to
// it. Internal to the registry entry points (host/registry.cpp).
//
// Layout: table `keys` holds one row per key (id, parent id, name as given,
// upper-cased name), with HKEY_LOCAL_MACHINE as row 1 (parent 0); table `vals`
// holds one row per value (key id, name as given, upper-cased name, type,
// bytes). Names are UTF-8 in the database; the upper-cased column carries the
// uniqueness constraints and the enumeration order. Key ids are never reused
// (AUTOINCREMENT), so an id held by a handle names its key or nothing: a
// missing id means the key was deleted.
//
// Thread safety: none. Every member must be called with the registry's
// process-wide lock held; that lock is what makes one connection per process
// safe for every thread.
//
// Lifetime: the connection opens on demand (`open`) and can be closed at any
// time between operations (`close`, used before fork so that no SQLite state
// crosses into a child); the next `open` reopens it.
#pragma once

#include <host/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace host {

using reg_key_id = std::int64_t;

// A key or value name in both stored forms.
struct reg_name {
    std::string given;   // UTF-8, as the caller spelled it
    std::string folded;  // UTF-8 of its simple upper-case form
};

// Builds both forms of `length` units of `text`. Returns false (and leaves
// `out` unspecified) when the text is not well-formed UTF-16.
bool make_reg_name(const WCHAR* text, std::size_t length, reg_name* out);

// Sizes reported by query_info.
struct reg_key_info {
    DWORD subkeys = 0;
    DWORD max_subkey_units = 0;
    DWORD values = 0;
    DWORD max_value_name_units = 0;
    DWORD max_value_bytes = 0;
};

class registry_store {
  public:
    static constexpr reg_key_id kMachineKey = 1;

    explicit registry_store(std::string path);
    ~registry_store();
    registry_store(const registry_store&) = delete;
    registry_store& operator=(const registry_store&) = delete;

    const std::string& path() const { return m_path; }

    // Opens the connection if it is not open: WAL journal, synchronous=NORMAL,
    // busy waiting, schema created or checked. ERROR_SUCCESS, ERROR_CANTOPEN
    // or ERROR_BADDB (not a registry database, or a newer layout).
    LSTATUS open();
    // Releases the connection and its statements; harmless when closed.
    void close();

    // The key behind HKEY_CLASSES_ROOT (valid after a successful open).
    reg_key_id classes_key() const { return m_classesKey; }

    // ERROR_SUCCESS when `key` exists, else ERROR_KEY_DELETED.
    LSTATUS check_key(reg_key_id key);

    // Walks `path` below `base` without creating anything.
    LSTATUS open_path(reg_key_id base, const std::vector<reg_name>& path, reg_key_id* key);
    // Walks `path` below `base`, creating missing levels in one transaction.
    // `*created` says whether the last level is new.
    LSTATUS create_path(reg_key_id base, const std::vector<reg_name>& path, reg_key_id* key,
                        bool* created);
    // Deletes the leaf key at `path` below `base` (the base itself when
    // `path` is empty) and its values; refused when it has subkeys or is a
    // protected root.
    LSTATUS delete_key(reg_key_id base, const std::vector<reg_name>& path);
    // Deletes the key at `path` below `base` with its whole subtree; with
    // `keep_top` the key itself stays and only its contents go.
    LSTATUS delete_tree(reg_key_id base, const std::vector<reg_name>& path, bool keep_top);
    // The given name of the subkey at `index` in folded order.
    LSTATUS enum_key(reg_key_id key, DWORD index, std::string* name);

    // Finds the value whose folded name is `folded`; sets `*type` and
    // `*size`, and copies the bytes into `buffer` when it is given and
    // `capacity` suffices.
    LSTATUS query_value(reg_key_id key, const std::string& folded, DWORD* type, BYTE* buffer,
                        DWORD capacity, DWORD* size);
    // Creates or replaces a value; a replaced value keeps its given name.
    LSTATUS set_value(reg_key_id key, const reg_name& name, DWORD type, const BYTE* data,
                      DWORD size);
    LSTATUS delete_value(reg_key_id key, const std::string& folded);
    // The value at `index` in folded order, as query_value reports it.
    LSTATUS enum_value(reg_key_id key, DWORD index, std::string* name, DWORD* type, BYTE* buffer,
                       DWORD capacity, DWORD* size);
    LSTATUS query_info(reg_key_id key, reg_key_info* info);

  private:
    enum statement_id : int;
    class statement;
    class write_transaction;

    LSTATUS configure();
    LSTATUS ensure_schema();
    sqlite3_stmt* prepare(statement_id id);
    // Steps a statement that returns no rows.
    LSTATUS run(statement_id id, bool writing);
    LSTATUS child(reg_key_id parent, const std::string& folded, reg_key_id* key);
    LSTATUS walk(reg_key_id base, const std::vector<reg_name>& path, reg_key_id* key);
    LSTATUS has_children(reg_key_id key, bool* result);
    bool is_protected(reg_key_id key) const;
    static int busy_wait(void* self, int attempt);

    std::string m_path;
    sqlite3* m_db = nullptr;
    std::vector<sqlite3_stmt*> m_statements;  // by statement_id, prepared on first use
    reg_key_id m_classesKey = 0;
    std::int64_t m_busySince = 0;  // monotonic ns of the current busy wait's start
};

}  // namespace host
