// kesreg's commands. Each returns the process exit status and reports its
// own errors on standard error.
#pragma once

#include "regtext.h"

#include <optional>
#include <string>

namespace kesreg {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Which value(s) a command works on.
struct value_choice {
    enum kind_t { none, named, default_value, all } kind = none;
    wstring name;
};

// Prints the key's values (or the one chosen) and its subkeys; with
// `recursive`, every key below too.
int query(const key_path& path, const value_choice& value, bool recursive);

// Creates the key and, when a value is chosen, writes it. An existing value
// is replaced only with `force`. `type` is a REG_... name; `data` is parsed
// for that type (REG_MULTI_SZ elements are split at `separator`).
int add(const key_path& path, const value_choice& value, const std::string& type,
        const std::optional<std::string>& data, const std::string& separator, bool force);

// Deletes a value, all values, or the key; a key with subkeys is deleted
// with its whole tree only with `force`.
int remove(const key_path& path, const value_choice& value, bool force);

// Writes the key and everything below it to a .reg file; an existing file is
// replaced only with `overwrite`.
int export_tree(const key_path& path, const std::string& file, bool overwrite);

// Applies a .reg file; nothing is applied when it does not parse.
int import_file(const std::string& file);

// Loads a shared object and calls its DllRegisterServer (or, with
// `unregister`, DllUnregisterServer).
int run_server_entry(const std::string& module, bool unregister);

}  // namespace kesreg
