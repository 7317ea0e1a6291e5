#include <kes/registrar/kesregistrar.h>

#include <kes/error/kescodes.h>
#include <kes/error/keserror.h>
#include <kes/error/kestextconversion.h>
#include <pellib/peltrace.h>

#include <cstring>
#include <ostream>

namespace {

// The module's trace pattern. The registrar writes no trace lines of its own;
// the record lets operators address the module by name.
PelTrace_ theRegistrarTrace{0, "kes", "kesregistrar", "kes/registrar/kesregistrar", 0, -1, {-1}, 0};

// Installs the pattern when the library loads and removes it at unload, so
// that pellib never keeps a pointer into an unloaded library.
struct CKesRegistrarTraceInstaller {
    int m_Number;
    CKesRegistrarTraceInstaller() : m_Number(pelTraceInstallPattern(theRegistrarTrace)) {}
    ~CKesRegistrarTraceInstaller() { pelTraceRemovePattern(theRegistrarTrace); }
} theRegistrarTraceInstaller;

const WCHAR* ApplicationsPath() {
    return OLESTR("SOFTWARE\\Telmora\\Brontide\\Applications");
}

// Raises `theCode` with the registry status as its text (signed decimal).
LONG RaiseStatus(LONG theCode, LSTATUS theStatus, int theLine) {
    std::ostream& stream = KesMakeErrorStream();
    stream << static_cast<long>(theStatus);
    return KesRaiseError(theCode, stream, KES_SOURCE_FILE, theLine);
}

// Raises KES_E_VALUE_ACCESS with "GetValue failed for <name><suffix>".
LONG RaiseReadFailure(const host::wstring& theName, const char* theSuffix, int theLine) {
    std::ostream& stream = KesMakeErrorStream();
    stream << "GetValue failed for " << KesWideToAnsiString(theName.data(), theName.size())
           << theSuffix;
    return KesRaiseError(KES_E_VALUE_ACCESS, stream, KES_SOURCE_FILE, theLine);
}

// The registry takes terminated names, so a name holding a NUL would quietly
// stand for its part before the NUL: another key or value than the caller's.
bool HoldsNul(const host::wstring& theName) {
    return theName.find(static_cast<WCHAR>(0)) != host::wstring::npos;
}

}  // namespace

CKesRegistrar::CKesRegistrar()
    : m_rootKey(nullptr),
      m_subkey(nullptr),
      m_accessMode(KesAccessReadOnly),
      m_isPluginRegistrar(false) {
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, ApplicationsPath(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
    KES_ASSERT(status == ERROR_SUCCESS);
    m_rootKey = status == ERROR_SUCCESS ? key : nullptr;
}

CKesRegistrar::CKesRegistrar(HKEY key)
    : m_rootKey(nullptr),
      m_subkey(nullptr),
      m_accessMode(KesAccessReadOnly),
      m_isPluginRegistrar(false) {
    HKEY root = nullptr;
    LSTATUS status = RegOpenKeyExW(key, nullptr, 0, KEY_ALL_ACCESS, &root);
    KES_ASSERT(status == ERROR_SUCCESS);
    m_rootKey = status == ERROR_SUCCESS ? root : nullptr;
}

CKesRegistrar::~CKesRegistrar() {
    // The registry functions do not throw; the guard keeps the promise should
    // a stand-in ever do so.
    try {
        if (m_subkey != nullptr)
            RegCloseKey(m_subkey);
        if (m_rootKey != nullptr)
            RegCloseKey(m_rootKey);
    } catch (...) {
    }
}

LONG CKesRegistrar::OpenKey(const host::wstring& name, EKesAccessMode mode) {
    if (m_rootKey == nullptr) {
        KES_ASSERT(false);
        std::ostream& stream = KesMakeErrorStream();
        stream << "registry key not found";
        return KesRaiseError(KES_E_INVALID_STATE, stream, KES_SOURCE_FILE, __LINE__);
    }
    if (m_subkey != nullptr) {
        KES_ASSERT(false);
        std::ostream& stream = KesMakeErrorStream();
        stream << "registry key already open";
        return KesRaiseError(KES_E_INVALID_STATE, stream, KES_SOURCE_FILE, __LINE__);
    }
    // A mode outside the enumeration would otherwise open with full rights.
    const bool known =
        mode == KesAccessReadOnly || mode == KesAccessReadWrite || mode == KesAccessCreate;
    KES_ASSERT(known);
    if (!known || HoldsNul(name))
        return KES_E_NOT_FOUND;

    HKEY key = nullptr;
    LSTATUS status;
    if (mode == KesAccessCreate) {
        status = RegCreateKeyExW(m_rootKey, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
    } else {
        const REGSAM rights = mode == KesAccessReadOnly ? KEY_READ : KEY_ALL_ACCESS;
        status = RegOpenKeyExW(m_rootKey, name.c_str(), 0, rights, &key);
    }
    if (status != ERROR_SUCCESS || key == nullptr) {
        if (key != nullptr)
            RegCloseKey(key);
        return KES_E_NOT_FOUND;
    }
    m_subkey = key;
    m_accessMode = mode;
    return 0;
}

LONG CKesRegistrar::CloseKey() {
    if (m_subkey == nullptr)
        return 0;
    LSTATUS status = RegCloseKey(m_subkey);
    m_subkey = nullptr;
    if (status != ERROR_SUCCESS)
        return RaiseStatus(KES_E_NOT_FOUND, status, __LINE__);
    return 0;
}

LONG CKesRegistrar::GetValue(const host::wstring& name, host::wstring& value, bool silent) const {
    KES_ASSERT(m_subkey != 0);
    // WCHAR storage, handed over as bytes, so the text is read back without
    // a second copy or a misaligned access.
    WCHAR buffer[STRING_BUFFER_BYTES / sizeof(WCHAR)];
    DWORD type = REG_NONE;
    DWORD size = STRING_BUFFER_BYTES;
    LSTATUS status = HoldsNul(name) ? static_cast<LSTATUS>(ERROR_INVALID_PARAMETER)
                                    : RegQueryValueExW(m_subkey, name.c_str(), nullptr, &type,
                                                       reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS) {
        if (silent)
            return status;
        return RaiseReadFailure(name, "", __LINE__);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
        return RaiseReadFailure(name, ", not a string", __LINE__);
    const std::size_t units = size / sizeof(WCHAR);
    std::size_t length = 0;
    while (length < units && buffer[length] != 0)
        ++length;
    value.assign(buffer, length);
    return 0;
}

LONG CKesRegistrar::GetValue(const host::wstring& name, ULONG& value, bool silent) const {
    KES_ASSERT(m_subkey != 0);
    // Read into a zeroed word of our own: a short REG_DWORD then reads
    // zero-extended, and a failed read leaves the caller's variable alone.
    DWORD number = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof number;
    LSTATUS status = HoldsNul(name) ? static_cast<LSTATUS>(ERROR_INVALID_PARAMETER)
                                    : RegQueryValueExW(m_subkey, name.c_str(), nullptr, &type,
                                                       reinterpret_cast<BYTE*>(&number), &size);
    if (status != ERROR_SUCCESS) {
        if (silent)
            return status;
        return RaiseReadFailure(name, "", __LINE__);
    }
    if (type != REG_DWORD)
        return RaiseReadFailure(name, ", not a DWORD", __LINE__);
    value = number;
    return 0;
}

LONG CKesRegistrar::SetValue(const host::wstring& name, const host::wstring& value) const {
    KES_ASSERT(m_accessMode != KesAccessReadOnly);
    KES_ASSERT(m_subkey != 0);
    // The text and its terminator; a text too long for a 32-bit size is
    // refused rather than cut.
    const std::size_t bytes = (value.size() + 1) * sizeof(WCHAR);
    LSTATUS status;
    if (HoldsNul(name) || bytes > 0xFFFFFFFFu) {
        status = ERROR_INVALID_PARAMETER;
    } else {
        status =
            RegSetValueExW(m_subkey, name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(bytes));
    }
    if (status != ERROR_SUCCESS)
        return RaiseStatus(KES_E_VALUE_ACCESS, status, __LINE__);
    return 0;
}

LONG CKesRegistrar::SetValue(const host::wstring& name, ULONG value) const {
    KES_ASSERT(m_accessMode != KesAccessReadOnly);
    KES_ASSERT(m_subkey != 0);
    const DWORD number = value;
    LSTATUS status = HoldsNul(name)
                         ? static_cast<LSTATUS>(ERROR_INVALID_PARAMETER)
                         : RegSetValueExW(m_subkey, name.c_str(), 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&number), sizeof number);
    if (status != ERROR_SUCCESS)
        return RaiseStatus(KES_E_VALUE_ACCESS, status, __LINE__);
    return 0;
}

LONG CKesRegistrar::DeleteValue(const host::wstring& name) const {
    KES_ASSERT(m_accessMode != KesAccessReadOnly);
    KES_ASSERT(m_subkey != 0);
    LSTATUS status = HoldsNul(name) ? static_cast<LSTATUS>(ERROR_INVALID_PARAMETER)
                                    : RegDeleteValueW(m_subkey, name.c_str());
    if (status != ERROR_SUCCESS)
        return RaiseStatus(KES_E_VALUE_ACCESS, status, __LINE__);
    return 0;
}

LONG CKesRegistrar::DeleteSubkey(const host::wstring& name) {
    KES_ASSERT(m_accessMode == KesAccessReadWrite);
    KES_ASSERT(m_subkey != 0);
    // The registry reads an empty name as the key itself; a subkey is meant.
    LSTATUS status = name.empty() || HoldsNul(name) ? static_cast<LSTATUS>(ERROR_INVALID_PARAMETER)
                                                    : RegDeleteKeyW(m_subkey, name.c_str());
    if (status != ERROR_SUCCESS)
        return RaiseStatus(KES_E_NOT_FOUND, status, __LINE__);
    return 0;
}

namespace {

// Appends the names of `theKey`'s subkeys until the first failure.
void AppendSubkeyNames(HKEY theKey, std::list<host::wstring>& theNames) {
    for (DWORD index = 0;; ++index) {
        WCHAR name[CKesRegistrar::NAME_BUFFER_UNITS];
        DWORD units = CKesRegistrar::NAME_BUFFER_UNITS;
        if (RegEnumKeyExW(theKey, index, name, &units, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return;
        }
        theNames.emplace_back(name, units);
    }
}

}  // namespace

LONG CKesRegistrar::ListKeys(std::list<host::wstring>& names) {
    names.clear();
    AppendSubkeyNames(m_rootKey, names);
    return 0;
}

LONG CKesRegistrar::ListSubKeys(std::list<host::wstring>& names) {
    names.clear();
    AppendSubkeyNames(m_subkey, names);
    return 0;
}
