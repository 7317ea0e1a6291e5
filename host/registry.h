// The registry: a persistent tree of keys, each holding named, typed values
// and further keys, shared by every process that uses the same store
// directory (host/store.h).
//
// Keys are reached through handles. A handle is opened below another handle
// (or below one of the predefined roots HKEY_LOCAL_MACHINE and
// HKEY_CLASSES_ROOT, the latter being HKEY_LOCAL_MACHINE\SOFTWARE\Classes) by a
// path whose levels are separated by backslashes. It stays valid until
// RegCloseKey, whatever happens to its key; when the key is deleted, by this
// or any other process, every operation through the handle fails with
// ERROR_KEY_DELETED. A closed or made-up handle gives ERROR_INVALID_HANDLE; it
// never crashes. Predefined roots need no opening and ignore RegCloseKey.
//
// Names: key and value names are case-insensitive and case-preserving. Two
// names are the same when their simple upper-case forms (per UTF-16 unit, the
// whole Basic Multilingual Plane) are equal; the first spelling is kept.
// Subkeys and values enumerate in the order of those upper-case forms (by code
// point), which is stable but not something callers should rely on. A key
// name level holds 1 to 255 units and no backslash; a value name holds at most
// 16,383 units (the empty name is the key's default value); a key lies at most
// 512 levels and 32,767 units of path below HKEY_LOCAL_MACHINE. Names must be
// well-formed UTF-16. A name that breaks any of these rules is refused with
// ERROR_INVALID_PARAMETER and nothing is stored.
//
// Values keep their type number and their bytes exactly as written (at most
// 16 MiB); no terminator is added or checked, and REG_EXPAND_SZ is never
// expanded.
//
// Access: a handle carries the rights asked for when it was opened. Reading
// values needs KEY_QUERY_VALUE, writing or deleting them KEY_SET_VALUE,
// enumerating subkeys KEY_ENUMERATE_SUB_KEYS; without the right the call fails
// with ERROR_ACCESS_DENIED. Creating and deleting subkeys is not checked
// against the handle's rights (there are no security descriptors here).
//
// Every function returns a Win32 status (0 on success) and is thread-safe;
// operations of one process are serialised. Writes of several processes queue
// for the store. A store that cannot be opened gives ERROR_CANTOPEN, a
// damaged one ERROR_BADDB, a failed read or write ERROR_CANTREAD or
// ERROR_CANTWRITE. An acknowledged write survives a crash of the process that
// made it.
#pragma once

#include <host/export.h>
#include <host/types.h>

#include <cstdint>

typedef DWORD REGSAM;

// ---- Predefined roots ---------------------------------------------------------

// Win32 builds these from a LONG, so on a 64-bit host they are sign-extended;
// the zero-extended spellings are accepted as well.
#define HKEY_CLASSES_ROOT \
    (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000000u))))
#define HKEY_LOCAL_MACHINE \
    (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002u))))

// ---- Access rights --------------------------------------------------------------

constexpr REGSAM KEY_QUERY_VALUE = 0x0001u;
constexpr REGSAM KEY_SET_VALUE = 0x0002u;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004u;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008u;
constexpr REGSAM KEY_NOTIFY = 0x0010u;
constexpr REGSAM KEY_CREATE_LINK = 0x0020u;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100u;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200u;
constexpr REGSAM KEY_READ = 0x20019u;
constexpr REGSAM KEY_EXECUTE = 0x20019u;
constexpr REGSAM KEY_WRITE = 0x20006u;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003Fu;

// ---- Value types --------------------------------------------------------------

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// ---- Options and dispositions ---------------------------------------------------

constexpr DWORD REG_OPTION_RESERVED = 0x0u;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0u;
constexpr DWORD REG_OPTION_VOLATILE = 0x1u;
constexpr DWORD REG_OPTION_CREATE_LINK = 0x2u;
constexpr DWORD REG_OPTION_BACKUP_RESTORE = 0x4u;
constexpr DWORD REG_OPTION_OPEN_LINK = 0x8u;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

extern "C" {

// Opens `subKey` below `hKey`, creating it and every missing key on its path
// first. `subKey` "" opens a new handle to `hKey`'s own key; null is refused.
// `reserved` must be 0; `options` must be REG_OPTION_NON_VOLATILE (volatile
// keys, links and backup semantics are not supported: ERROR_INVALID_PARAMETER).
// `keyClass` and `security` are ignored. On success `*result` is a new handle
// with the rights `desired` and `*disposition` (when given) says whether the
// last level was created (REG_CREATED_NEW_KEY) or already there
// (REG_OPENED_EXISTING_KEY). On failure `*result` is null and nothing is
// created.
HOST_API LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                 DWORD options, REGSAM desired,
                                 const LPSECURITY_ATTRIBUTES security, HKEY* result,
                                 LPDWORD disposition);

// Opens the existing key `subKey` below `hKey` with the rights `desired`.
// A null or empty `subKey` opens a new handle to `hKey`'s own key. `options`
// must be 0 or REG_OPTION_OPEN_LINK. A missing key gives ERROR_FILE_NOT_FOUND.
// On failure `*result` is null.
HOST_API LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM desired,
                               HKEY* result);

// Closes a handle; it is invalid afterwards. Closing a predefined root
// succeeds and does nothing. Closing does not affect the stored tree.
HOST_API LSTATUS RegCloseKey(HKEY hKey);

// Reads the value `name` (null or "": the default value) of `hKey`'s key.
// `reserved` must be null. `*type` (when given) receives its type.
// - `data` null, `cbData` given: succeeds and sets `*cbData` to the size.
// - `data` given: `cbData` is required and holds the buffer's size; when the
//   value fits it is copied and `*cbData` is its size; when it does not, the
//   call fails with ERROR_MORE_DATA, `*cbData` is the size needed and the
//   buffer's contents are unspecified.
// A missing value gives ERROR_FILE_NOT_FOUND and changes no output.
HOST_API LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                  LPBYTE data, LPDWORD cbData);

// Creates or replaces the value `name` (null or "": the default value) with
// `cbData` bytes of `data` and type `type`; a replaced value keeps the
// spelling of its name. `data` may be null only when `cbData` is 0. String
// types are stored as given: `cbData` should count the terminator(s).
HOST_API LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR name, DWORD reserved, DWORD type,
                                const BYTE* data, DWORD cbData);

// Deletes the value `name` (null or "": the default value). A missing value
// gives ERROR_FILE_NOT_FOUND.
HOST_API LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR name);

// Deletes the key `subKey` below `hKey` ("" deletes `hKey`'s own key) with its
// values. A key that has subkeys is not deleted: ERROR_ACCESS_DENIED, as
// Win32 answers. HKEY_LOCAL_MACHINE and the key behind HKEY_CLASSES_ROOT
// cannot be deleted (ERROR_ACCESS_DENIED). Handles still open on the deleted
// key then fail with ERROR_KEY_DELETED.
HOST_API LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR subKey);

// Deletes the key `subKey` below `hKey` with all its subkeys and values, in
// one step that other processes see whole. With `subKey` null the key of
// `hKey` stays and loses all its subkeys and values. A tree that holds a
// predefined root's key is refused with ERROR_ACCESS_DENIED.
HOST_API LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR subKey);

// The name of the subkey at position `index` (from 0) of `hKey`'s key.
// `*cchName` holds the buffer's size in units including the terminator; on
// success it is the name's length without it. A name that does not fit (with
// its terminator) gives ERROR_MORE_DATA, copies nothing and leaves `*cchName`
// as it was. Past the last subkey: ERROR_NO_MORE_ITEMS. Keys have no class
// here: `keyClass` (when given with room) receives "" and `*cchClass` 0.
// `lastWriteTime` (a FILETIME, when given) receives 0: write times are not
// recorded. Indices are positions in the current order, so adding or deleting
// subkeys during an enumeration shifts them.
HOST_API LSTATUS RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName,
                               LPDWORD reserved, LPWSTR keyClass, LPDWORD cchClass,
                               void* lastWriteTime);

// The value at position `index` (from 0) of `hKey`'s key: its name (sized as
// for RegEnumKeyExW; the default value's name is ""), type and data (sized as
// for RegQueryValueExW; `data` and `cbData` may both be null). A name that
// does not fit gives ERROR_MORE_DATA; data that does not fit gives
// ERROR_MORE_DATA with the name copied and `*cbData` the size needed. Needs
// KEY_QUERY_VALUE.
HOST_API LSTATUS RegEnumValueW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName,
                               LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData);

// Counts and sizes of `hKey`'s key, each output optional: number of subkeys,
// longest subkey name (units, without terminator), number of values, longest
// value name (units), largest value data (bytes). Class and security
// descriptor sizes are 0; `lastWriteTime` as for RegEnumKeyExW. Needs
// KEY_QUERY_VALUE.
HOST_API LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR keyClass, LPDWORD cchClass, LPDWORD reserved,
                                  LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen,
                                  LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                                  LPDWORD cbSecurityDescriptor, void* lastWriteTime);

}  // extern "C"
