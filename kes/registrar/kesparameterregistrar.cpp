#include <kes/registrar/kesparameterregistrar.h>

#include <kes/error/kescodes.h>
#include <kes/error/kestextconversion.h>

#include <host/registry.h>

namespace {

const WCHAR* ParametersSuffix() {
    return OLESTR("\\Parameters");
}
const WCHAR* ProductKey() {
    return OLESTR("SOFTWARE\\Telmora\\Brontide");
}
const WCHAR* RootValue() {
    return OLESTR("Root");
}
const WCHAR* FtpRootsKey() {
    return OLESTR("SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters\\Virtual Roots");
}
const WCHAR* FtpRootValue() {
    return OLESTR("/");
}
const WCHAR* FtpRootValueAlternative() {
    return OLESTR("/,");
}

bool HoldsNul(const host::wstring& theName) {
    return theName.find(static_cast<WCHAR>(0)) != host::wstring::npos;
}

// `theText` through the host's code page and back, as a narrow caller of the
// path would see it.
host::wstring ThroughCodePage(const host::wstring& theText) {
    std::string narrow = KesWideToAnsiString(theText.data(), theText.size());
    return KesAnsiToWideString(narrow.data(), narrow.size());
}

}  // namespace

CKesParameterRegistrar::CKesParameterRegistrar(const host::wstring& application,
                                               EKesAccessMode mode) {
    OpenKey(application + ParametersSuffix(), mode);
}

CKesParameterRegistrar::CKesParameterRegistrar(const std::string& application,
                                               EKesAccessMode mode) {
    OpenKey(KesAnsiToWideString(application.data(), application.size()) + ParametersSuffix(), mode);
}

CKesParameterRegistrar::~CKesParameterRegistrar() {
    // Nothing may leave a destructor; CloseKey reports a failed close itself.
    try {
        CloseKey();
    } catch (...) {
    }
}

LONG CKesParameterRegistrar::GetValue(const host::wstring& name, host::wstring& value) const {
    if (m_subkey == nullptr || HoldsNul(name))
        return KES_E_NOT_FOUND;
    WCHAR buffer[STRING_BUFFER_BYTES / sizeof(WCHAR)];
    DWORD size = STRING_BUFFER_BYTES;
    if (RegQueryValueExW(m_subkey, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        return KES_E_NOT_FOUND;
    }
    const std::size_t units = size / sizeof(WCHAR);
    std::size_t length = 0;
    while (length < units && buffer[length] != 0)
        ++length;
    value.assign(buffer, length);
    return 0;
}

LONG CKesParameterRegistrar::GetValue(const host::wstring& name, ULONG& value) const {
    if (m_subkey == nullptr || HoldsNul(name))
        return KES_E_NOT_FOUND;
    DWORD number = 0;  // shorter data reads zero-extended
    DWORD size = sizeof number;
    if (RegQueryValueExW(m_subkey, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                         &size) != ERROR_SUCCESS) {
        return KES_E_NOT_FOUND;
    }
    value = number;
    return 0;
}

LONG CKesParameterRegistrar::SetValue(const host::wstring& name, const host::wstring& value) const {
    const std::size_t bytes = (value.size() + 1) * sizeof(WCHAR);
    if (m_subkey == nullptr || HoldsNul(name) || bytes > 0xFFFFFFFFu)
        return KES_E_NOT_FOUND;
    if (RegSetValueExW(m_subkey, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(bytes)) != ERROR_SUCCESS) {
        return KES_E_NOT_FOUND;
    }
    return 0;
}

LONG CKesParameterRegistrar::SetValue(const host::wstring& name, ULONG value) const {
    if (m_subkey == nullptr || HoldsNul(name))
        return KES_E_NOT_FOUND;
    const DWORD number = value;
    if (RegSetValueExW(m_subkey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                       sizeof number) != ERROR_SUCCESS) {
        return KES_E_NOT_FOUND;
    }
    return 0;
}

LONG CKesParameterRegistrar::DeleteValue(const host::wstring& name) const {
    if (m_subkey == nullptr || HoldsNul(name))
        return KES_E_NOT_FOUND;
    if (RegDeleteValueW(m_subkey, name.c_str()) != ERROR_SUCCESS)
        return KES_E_NOT_FOUND;
    return 0;
}

LONG CKesAppRoot::GetPath(host::wstring& path) {
    CKesRegistrar registrar(HKEY_LOCAL_MACHINE);
    LONG result = registrar.OpenKey(ProductKey(), KesAccessReadOnly);
    if (result != 0)
        return result;
    host::wstring text;
    result = registrar.GetValue(RootValue(), text, false);
    registrar.CloseKey();
    if (result != 0)
        return result;
    path = ThroughCodePage(text);
    return 0;
}

LONG CKesFtpRoot::GetPath(host::wstring& path) {
    CKesRegistrar registrar(HKEY_LOCAL_MACHINE);
    LONG result = registrar.OpenKey(FtpRootsKey(), KesAccessReadOnly);
    if (result != 0)
        return result;
    host::wstring text;
    result = registrar.GetValue(FtpRootValue(), text, false);
    if (result != 0)
        result = registrar.GetValue(FtpRootValueAlternative(), text, false);
    registrar.CloseKey();
    if (result != 0)
        return result;
    // The value is "<directory>[,<further fields>]".
    host::wstring directory = ThroughCodePage(text);
    const std::size_t comma = directory.find(static_cast<WCHAR>(','));
    if (comma != host::wstring::npos)
        directory.erase(comma);
    path = directory;
    return 0;
}
