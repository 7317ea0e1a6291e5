#include <host/internal/inproc.h>

#include <host/guidtext.h>
#include <host/internal/utf.h>
#include <host/registry.h>

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace host {
namespace {

constexpr HRESULT kReadRegistryFailed = static_cast<HRESULT>(0x80040150u);  // REGDB_E_READREGDB
constexpr HRESULT kInvalidValue = static_cast<HRESULT>(0x80040153u);        // REGDB_E_INVALIDVALUE
constexpr HRESULT kDllNotFound = static_cast<HRESULT>(0x800401F8u);         // CO_E_DLLNOTFOUND
constexpr HRESULT kErrorInDll = static_cast<HRESULT>(0x800401F9u);          // CO_E_ERRORINDLL

using get_class_object_fn = HRESULT (*)(REFCLSID, REFIID, void**);

// Closes a registry handle when the scope ends.
class key_guard {
  public:
    explicit key_guard(HKEY key) : m_key(key) {}
    ~key_guard() { RegCloseKey(m_key); }
    key_guard(const key_guard&) = delete;
    key_guard& operator=(const key_guard&) = delete;

  private:
    HKEY m_key;
};

// Replaces each %NAME% whose variable is set with its value; a reference to
// an unset variable, and a lone %, stay as written (as Win32 expands them).
std::string expand_environment(const std::string& text) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t open = text.find('%', pos);
        std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos)
            break;
        std::string name = text.substr(open + 1, close - open - 1);
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        out.append(text, pos, open - pos);
        if (value != nullptr) {
            out += value;
            pos = close + 1;
        } else {
            // Keep the first % and rescan from the second, which may open a
            // reference of its own.
            out.push_back('%');
            pos = open + 1;
            if (name.empty()) {
                out.push_back('%');
                pos = close + 1;
            }
        }
    }
    out.append(text, pos, std::string::npos);
    return out;
}

// The module path registered for `clsid`, in the file system's encoding.
HRESULT read_server_path(REFCLSID clsid, std::string* path) {
    WCHAR guid[39];
    StringFromGUID2(clsid, guid, 39);
    wstring name = utf::to_utf16(std::string("CLSID\\"));
    name.append(guid);
    name += utf::to_utf16(std::string("\\InprocServer32"));

    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return REGDB_E_CLASSNOTREG;
    if (status != ERROR_SUCCESS)
        return kReadRegistryFailed;
    key_guard guard(key);

    // The value may change between the size query and the read; retry then.
    std::vector<BYTE> bytes;
    DWORD type = 0;
    for (;;) {
        DWORD size = 0;
        status = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return REGDB_E_CLASSNOTREG;
        if (status != ERROR_SUCCESS)
            return kReadRegistryFailed;
        bytes.resize(size);
        status = RegQueryValueExW(key, nullptr, nullptr, &type, bytes.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status == ERROR_FILE_NOT_FOUND)
            return REGDB_E_CLASSNOTREG;
        if (status != ERROR_SUCCESS)
            return kReadRegistryFailed;
        bytes.resize(size);
        break;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return kInvalidValue;

    wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        auto unit = static_cast<WCHAR>(bytes[i] | bytes[i + 1] << 8);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    if (text.empty())
        return REGDB_E_CLASSNOTREG;
    *path = utf::to_utf8(text);
    if (type == REG_EXPAND_SZ)
        *path = expand_environment(*path);
    return S_OK;
}

// Servers loaded by this process, by registered path. A server is never
// unloaded: objects it made may live anywhere in the process, and nothing
// here knows when the last one is gone. Loading happens outside the lock, so
// a server whose initialisation activates another class does not deadlock.
class server_table {
  public:
    static server_table& get() {
        static server_table* const table = new server_table();  // outlives every caller
        return *table;
    }

    HRESULT entry_point(const std::string& path, get_class_object_fn* entry) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            auto it = m_entries.find(path);
            if (it != m_entries.end()) {
                *entry = it->second;
                return S_OK;
            }
        }
        // A failed load is not remembered: the registration may be fixed.
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr)
            return kDllNotFound;
        auto found = reinterpret_cast<get_class_object_fn>(dlsym(module, "DllGetClassObject"));
        if (found == nullptr)
            return kErrorInDll;
        std::lock_guard<std::mutex> guard(m_mutex);
        *entry = m_entries.emplace(path, found).first->second;
        return S_OK;
    }

  private:
    server_table() = default;

    std::mutex m_mutex;
    std::map<std::string, get_class_object_fn> m_entries;  // guarded by m_mutex
};

}  // namespace

HRESULT inproc_class_object(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    std::string path;
    HRESULT hr = read_server_path(clsid, &path);
    if (FAILED(hr))
        return hr;
    get_class_object_fn entry = nullptr;
    hr = server_table::get().entry_point(path, &entry);
    if (FAILED(hr))
        return hr;
    hr = entry(clsid, riid, ppv);
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

}  // namespace host
