#include <kes/registrar/kespluginregistrar.h>

#include <kes/error/kestextconversion.h>

#include <host/registry.h>

#include <utility>

namespace {

const WCHAR* PluginsKey() {
    return OLESTR("Plugins");
}

host::wstring Widen(const std::string& theText) {
    return KesAnsiToWideString(theText.data(), theText.size());
}

}  // namespace

CKesPluginRegistrar::CKesPluginRegistrar() : m_listPopulated(false) {
    m_isPluginRegistrar = true;
}

CKesPluginRegistrar::~CKesPluginRegistrar() = default;

LONG CKesPluginRegistrar::Open(const host::wstring& application) {
    return OpenKey(application + OLESTR("\\") + PluginsKey(), KesAccessReadOnly);
}

LONG CKesPluginRegistrar::Open(const std::string& application) {
    return Open(Widen(application));
}

LONG CKesPluginRegistrar::Close() {
    return CloseKey();
}

void CKesPluginRegistrar::PopulatePluginList() {
    if (m_listPopulated)
        return;
    std::list<host::wstring> found;
    for (DWORD index = 0;; ++index) {
        WCHAR name[NAME_BUFFER_UNITS];
        DWORD units = NAME_BUFFER_UNITS;
        if (RegEnumKeyExW(m_subkey, index, name, &units, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        found.emplace_back(name, units);
    }
    if (found.empty())
        return;  // nothing seen yet: the next call looks again
    m_listPopulated = true;
    // A name counts only when the plug-in is an application itself.
    CKesRegistrar applications;
    for (host::wstring& plugin : found) {
        if (applications.OpenKey(plugin, KesAccessReadOnly) == 0)
            m_pluginList.push_back(std::move(plugin));
        applications.CloseKey();
    }
}

bool CKesPluginRegistrar::IsPluginRegistered(const host::wstring& name) {
    PopulatePluginList();
    for (const host::wstring& plugin : m_pluginList) {
        if (plugin == name)
            return true;
    }
    return false;
}

bool CKesPluginRegistrar::IsPluginRegistered(const std::string& name) {
    return IsPluginRegistered(Widen(name));
}

LONG CKesPluginRegistrar::ListPluginNames(std::list<host::wstring>& names) {
    PopulatePluginList();
    names.clear();
    names.insert(names.end(), m_pluginList.begin(), m_pluginList.end());
    return 0;
}

LONG CKesPluginRegistrar::ListPluginNames(std::list<std::string>& names) {
    PopulatePluginList();
    names.clear();
    for (const host::wstring& plugin : m_pluginList)
        names.push_back(KesWideToAnsiString(plugin.data(), plugin.size()));
    return 0;
}
