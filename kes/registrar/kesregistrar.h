// CKesRegistrar: typed access to one key of the registry and its values.
//
// A registrar holds a root key, fixed for its life, and at most one open
// subkey below it. Values are read, written and deleted in the open subkey:
//
//     CKesRegistrar registrar;                        // root: the application tree
//     registrar.OpenKey(OLESTR("MyApp\\Settings"), KesAccessCreate);
//     registrar.SetValue(OLESTR("Count"), 5u);
//     registrar.CloseKey();                           // or let it go out of scope
//
// States: Closed (no subkey) and Open. A successful OpenKey makes it Open and
// records the mode; CloseKey returns it to Closed and keeps the mode; OpenKey
// while Open is refused and leaves the open subkey alone.
//
// Reporting. Misuse (a value operation with no key open, a write through a
// read-only registrar) fails a KES_ASSERT and the operation carries on, so
// the registry call that follows fails and is reported as that failure.
// Failures are raised through KesRaiseError under the source
// "kes/registrar/kesregistrar" and their code returned:
//
//   KES_E_INVALID_STATE  OpenKey with no root ("registry key not found") or
//                        with a key already open ("registry key already open")
//   KES_E_NOT_FOUND      a key cannot be opened or created (not raised), closed
//                        or deleted (raised, text: the registry status number)
//   KES_E_VALUE_ACCESS   a value cannot be read ("GetValue failed for <name>",
//                        ", not a string" / ", not a DWORD" for a wrong type),
//                        written or deleted (text: the registry status number)
//
// A GetValue asked to be silent raises nothing for a failed read and returns
// the registry's own status instead: a positive number (2 for a missing
// value, 234 for one too long for the buffer). Check the result against 0,
// not with FAILED().
//
// Limits: a string read holds at most 255 characters; key enumeration stops
// at the first name longer than 127 characters. A key or value name holding
// a NUL unit is refused (as status ERROR_INVALID_PARAMETER) rather than cut.
//
// Threads: no operation takes a lock. One registrar is used by one thread at
// a time; separate registrars, also over the same keys, are independent (the
// registry itself serialises their calls). Not copyable.
#pragma once

#include <host/registry.h>
#include <host/types.h>
#include <kes/export.h>

#include <cstdint>
#include <list>

// How OpenKey opens a key, and what the registrar may do with it then.
enum EKesAccessMode : std::int32_t {
    KesAccessReadOnly = 0,   // an existing key, read rights (KEY_READ)
    KesAccessReadWrite = 1,  // an existing key, full rights (KEY_ALL_ACCESS)
    KesAccessCreate = 2,     // the key, created with any missing key on its path; full rights
};

class KES_API CKesRegistrar {
  public:
    // The size of the buffer a string read uses, in bytes: 255 characters and
    // the terminator.
    static constexpr DWORD STRING_BUFFER_BYTES = 512;
    // The room for one name during key enumeration, in units: 127 characters
    // and the terminator.
    static constexpr DWORD NAME_BUFFER_UNITS = 128;

    // Root: HKEY_LOCAL_MACHINE\SOFTWARE\Telmora\Brontide\Applications, created
    // when missing. When that fails the assertion "status == ERROR_SUCCESS"
    // fails and the registrar has no root: every OpenKey is then refused.
    CKesRegistrar();
    // Root: a new handle, with full rights, to the key `key` itself; the
    // caller keeps its own handle. Failure as for the default constructor.
    explicit CKesRegistrar(HKEY key);
    // Closes the open subkey, then the root. Never throws or reports.
    virtual ~CKesRegistrar();

    CKesRegistrar(const CKesRegistrar&) = delete;
    CKesRegistrar& operator=(const CKesRegistrar&) = delete;

    // Opens `name`, a path of levels separated by backslashes below the root,
    // as the open subkey in `mode`. 0; KES_E_INVALID_STATE (raised) without a
    // root or with a key already open; KES_E_NOT_FOUND (not raised) when the
    // registry refuses to open or create it, and then the mode is unchanged;
    // a mode outside the enumeration fails the assertion "known" and opens
    // nothing (KES_E_NOT_FOUND).
    LONG OpenKey(const host::wstring& name, EKesAccessMode mode);

    // Closes the open subkey (0 when none is open). The subkey is forgotten
    // even when closing fails, which gives KES_E_NOT_FOUND (raised).
    LONG CloseKey();

    // Reads the string value `name` of the open subkey into `value`:
    // REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ (its first string),
    // cut at the first NUL. 0; a failed read gives KES_E_VALUE_ACCESS
    // (raised), or with `silent` the registry status and nothing raised;
    // another type gives KES_E_VALUE_ACCESS (raised) whatever `silent` says.
    // `value` changes only on success.
    LONG GetValue(const host::wstring& name, host::wstring& value, bool silent) const;

    // Reads the REG_DWORD value `name` into `value`; failures as above (a
    // value larger than 4 bytes is a failed read). `value` changes only on
    // success; a REG_DWORD shorter than 4 bytes reads zero-extended.
    LONG GetValue(const host::wstring& name, ULONG& value, bool silent) const;

    // Writes `value` as REG_SZ with its terminator, replacing any value of
    // that name. 0, or KES_E_VALUE_ACCESS (raised).
    LONG SetValue(const host::wstring& name, const host::wstring& value) const;

    // Writes `value` as REG_DWORD. 0, or KES_E_VALUE_ACCESS (raised).
    LONG SetValue(const host::wstring& name, ULONG value) const;

    // Deletes the value `name`. 0, or KES_E_VALUE_ACCESS (raised).
    LONG DeleteValue(const host::wstring& name) const;

    // Deletes the key `name` below the open subkey; it must have no subkeys.
    // Asserts that the registrar was opened KesAccessReadWrite. An empty name
    // (which would name the open subkey itself) is refused. 0, or
    // KES_E_NOT_FOUND (raised).
    LONG DeleteSubkey(const host::wstring& name);

    // Empties `names`, then appends the names of the root's subkeys (ListKeys)
    // or of the open subkey's subkeys (ListSubKeys) in the registry's order,
    // stopping at the first failure (the end, a name over 127 characters, no
    // key). Always 0.
    LONG ListKeys(std::list<host::wstring>& names);
    LONG ListSubKeys(std::list<host::wstring>& names);

  protected:
    // The root; null when opening it failed. Owned.
    HKEY m_rootKey;
    // The open subkey; null when none is open. Owned.
    HKEY m_subkey;
    // The mode of the last successful OpenKey; KesAccessReadOnly at first.
    EKesAccessMode m_accessMode;
    // Set by the plug-in registrar; nothing reads it.
    bool m_isPluginRegistrar;
};
