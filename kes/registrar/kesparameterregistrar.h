// An application's parameters, and the two directory paths that the rest of
// the tester reads from the registry.
//
// CKesParameterRegistrar opens the application's key
// HKEY_LOCAL_MACHINE\SOFTWARE\Telmora\Brontide\Applications\<application>\Parameters
// when it is constructed and reads, writes and deletes its values:
//
//     CKesParameterRegistrar parameters(OLESTR("Workbench"), KesAccessCreate);
//     parameters.SetValue(OLESTR("Timeout"), 30u);
//     ULONG timeout = 0;
//     if (parameters.GetValue(OLESTR("Timeout"), timeout) == 0) ...
//
// Unlike the base registrar's, its value operations report nothing: every
// failure (no key open because the construction's open failed, a missing or
// unreadable value, a value over 255 characters, a refused write) is
// KES_E_NOT_FOUND and nothing is asserted, raised or logged. Reads accept any
// stored type: the text read takes the stored bytes as UTF-16 units cut at the
// first NUL, the number read takes up to 4 bytes (zero-extended). The
// operations hide the base's value operations of the same names.
//
// CKesAppRoot::GetPath gives the tester's root directory, the value "Root" of
// HKEY_LOCAL_MACHINE\SOFTWARE\Telmora\Brontide. CKesFtpRoot::GetPath gives
// the directory part (up to the first comma) of the FTP service's root,
// the value "/" (or, when that is missing, "/,") of
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\MSFTPSVC\Parameters\Virtual Roots.
// Both return 0 and set `path`; KES_E_NOT_FOUND (not raised) when the key is
// missing; KES_E_VALUE_ACCESS when the value is (raised by the base registrar,
// "GetValue failed for " and the value's name). A missing "/" is raised even
// when "/," is then found. The path passes through the host's code page, so
// text it cannot represent comes back as its substitute. `path` changes only
// on success.
//
// Threads: as CKesRegistrar. The two GetPath functions use registrars of
// their own and may be called from any thread.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/registrar/kesregistrar.h>

#include <string>

class KES_API CKesParameterRegistrar : public CKesRegistrar {
  public:
    // Builds the base (root: the application tree), then opens
    // "<application>\Parameters" in `mode`; a failed open only leaves the
    // registrar without an open key. The narrow form takes the name in the
    // host's code page.
    CKesParameterRegistrar(const host::wstring& application, EKesAccessMode mode);
    CKesParameterRegistrar(const std::string& application, EKesAccessMode mode);
    // CloseKey, then as the base.
    virtual ~CKesParameterRegistrar();

    // 0, or KES_E_NOT_FOUND for every failure; `value` changes only on
    // success.
    LONG GetValue(const host::wstring& name, host::wstring& value) const;
    LONG GetValue(const host::wstring& name, ULONG& value) const;
    // REG_SZ with its terminator, or REG_DWORD. 0, or KES_E_NOT_FOUND.
    LONG SetValue(const host::wstring& name, const host::wstring& value) const;
    LONG SetValue(const host::wstring& name, ULONG value) const;
    // 0, or KES_E_NOT_FOUND.
    LONG DeleteValue(const host::wstring& name) const;
};

class KES_API CKesAppRoot {
  public:
    static LONG GetPath(host::wstring& path);
};

class KES_API CKesFtpRoot {
  public:
    static LONG GetPath(host::wstring& path);
};
