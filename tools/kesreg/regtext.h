// Text helpers shared by kesreg's commands: key paths as operators write
// them, UTF-8 <-> UTF-16, status messages, and a scoped key handle.
#pragma once

#include <host/registry.h>
#include <host/types.h>

#include <string>
#include <vector>

namespace kesreg {

using host::wstring;

// Strict UTF-8 to UTF-16; false for input that is not well-formed UTF-8.
bool from_utf8(const std::string& text, wstring* out);
// UTF-16 to UTF-8, ill-formed units shown as U+FFFD.
std::string to_utf8(const wstring& text);
// An ASCII literal as UTF-16.
wstring ascii(const char* text);

// A key path: a predefined root and the path below it.
struct key_path {
    HKEY root = nullptr;
    wstring root_name;  // the long form, as .reg files and output show it
    wstring below;      // "" for the root itself; no leading or trailing '\'
    // The whole path as shown to operators: root name, '\', path below.
    wstring full() const;
};

// Parses "HKLM\SOFTWARE\X", "HKEY_LOCAL_MACHINE\...", "HKCR\..." or
// "HKEY_CLASSES_ROOT\..." (root names in any case; one trailing backslash
// allowed). False, with a reason, for anything else.
bool parse_key_path(const wstring& text, key_path* out, std::string* reason);

// What a registry status means, for messages.
std::string status_text(LSTATUS status);

// A key handle closed when the scope ends.
class key_handle {
  public:
    key_handle() = default;
    ~key_handle() { reset(); }
    key_handle(const key_handle&) = delete;
    key_handle& operator=(const key_handle&) = delete;

    HKEY get() const { return m_key; }
    HKEY* out() {
        reset();
        return &m_key;
    }
    void reset() {
        if (m_key != nullptr)
            RegCloseKey(m_key);
        m_key = nullptr;
    }

  private:
    HKEY m_key = nullptr;
};

// One value as read from the registry.
struct value_data {
    wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

// Reads every value of `key` in enumeration order.
LSTATUS read_values(HKEY key, std::vector<value_data>* values);
// Reads every subkey name of `key` in enumeration order.
LSTATUS read_subkeys(HKEY key, std::vector<wstring>* names);

// The UTF-16 units of `bytes` (little-endian; an odd last byte is dropped).
wstring units_of(const std::vector<BYTE>& bytes);
// The little-endian bytes of `units`.
std::vector<BYTE> bytes_of(const wstring& units);

}  // namespace kesreg
