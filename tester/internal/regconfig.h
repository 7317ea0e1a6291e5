// Small registry helpers for the simulated server's configuration: an owned
// key handle, typed reads and writes, listings of subkeys and string values,
// and blank-separated number lists. Internal to kes::tester.
#pragma once

#include <host/registry.h>
#include <host/types.h>

#include <string>
#include <utility>
#include <vector>

namespace tester::reg {

// An open key, closed when the object goes.
class Key {
  public:
    Key() = default;
    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // Opens `path` below `root` for reading.
    LSTATUS Open(HKEY root, const host::wstring& path);
    // Opens `path` below `root` for reading and writing, creating it.
    LSTATUS Create(HKEY root, const host::wstring& path);
    HKEY get() const { return m_Key; }

  private:
    void Close();
    HKEY m_Key = nullptr;
};

// Reads a REG_DWORD into `value`; a missing value leaves it and gives
// ERROR_FILE_NOT_FOUND, a value of another type ERROR_INVALID_PARAMETER.
LSTATUS ReadLong(HKEY key, const WCHAR* name, LONG& value);
// Reads a REG_SZ into `value` (without its terminator); as ReadLong.
LSTATUS ReadString(HKEY key, const WCHAR* name, host::wstring& value);
LSTATUS WriteLong(HKEY key, const WCHAR* name, LONG value);
LSTATUS WriteString(HKEY key, const WCHAR* name, const host::wstring& value);

// The names of the key's subkeys, in the registry's order.
LSTATUS SubKeys(HKEY key, std::vector<host::wstring>& names);
// The key's REG_SZ values as (name, text) pairs; other types are skipped.
LSTATUS StringValues(HKEY key, std::vector<std::pair<host::wstring, host::wstring>>& values);

// Blank-separated decimal numbers; false for anything else (an empty or
// all-blank text is the empty list).
bool ParseLongs(const WCHAR* text, std::size_t length, std::vector<LONG>& values);
host::wstring JoinLongs(const std::vector<LONG>& values);

host::wstring Widen(const std::string& utf8);
std::string Narrow(const host::wstring& wide);
host::wstring Number(long long value);

// The result code of a registry status: TESTER_E_NOT_FOUND for a missing key
// or value, else HRESULT_FROM_WIN32.
HRESULT ToResult(LSTATUS status);

}  // namespace tester::reg
