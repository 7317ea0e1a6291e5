// A minimal in-process server: a class factory for ITestProbe objects, and
// self-registration under HKEY_CLASSES_ROOT\CLSID.
#include "test_server.h"

#include <host/export.h>
#include <host/guidtext.h>
#include <host/registry.h>

#include <dlfcn.h>

#include <atomic>
#include <string>

namespace {

std::atomic<LONG> g_counter{0};

class Probe : public host::ComObject<ITestProbe> {
  public:
    LONG Next() override { return ++g_counter; }
};

host::wstring class_key() {
    WCHAR guid[39];
    StringFromGUID2(CLSID_TestProbe, guid, 39);
    host::wstring key;
    for (const char* p = "CLSID\\"; *p != 0; ++p)
        key.push_back(static_cast<WCHAR>(*p));
    return key + guid;
}

host::wstring own_path() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&own_path), &info) == 0 || info.dli_fname == nullptr)
        return host::wstring();
    host::wstring path;  // the build tree's paths are ASCII
    for (const char* p = info.dli_fname; *p != 0; ++p)
        path.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
    return path;
}

}  // namespace

extern "C" HOST_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_TestProbe && clsid != CLSID_TestProbeByHand)
        return CLASS_E_CLASSNOTAVAILABLE;
    host::ComPtr<host::ClassFactory<Probe>> factory = host::make_com<host::ClassFactory<Probe>>();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

extern "C" HOST_API HRESULT DllRegisterServer() {
    host::wstring path = own_path();
    if (path.empty())
        return E_FAIL;
    host::wstring name = class_key() + OLESTR("\\InprocServer32");
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return E_ACCESSDENIED;
    }
    auto bytes = reinterpret_cast<const BYTE*>(path.c_str());
    LSTATUS status = RegSetValueExW(key, nullptr, 0, REG_SZ, bytes,
                                    static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : E_ACCESSDENIED;
}

extern "C" HOST_API HRESULT DllUnregisterServer() {
    LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, class_key().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : E_ACCESSDENIED;
}
