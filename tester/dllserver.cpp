// libkestester.so as an in-process server of the error-message server.
//
// DllRegisterServer records the library under
//   HKEY_CLASSES_ROOT\CLSID\{CLSID_DovErrorLookup}\InprocServer32
// (default value: this library's absolute path; ThreadingModel "Both"), so
// that any process using the same store can create the server with
// CoCreateInstance without calling tester::RegisterErrorServer first: COM
// loads the library and asks DllGetClassObject. DllUnregisterServer removes
// the class's key again. `kesreg regserver libkestester.so` calls the first.
#include <tester/errorserver.h>
#include <tester/export.h>
#include <tester/interfaces.h>

#include <host/codepage.h>
#include <host/comptr.h>
#include <host/guidtext.h>
#include <host/registry.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace {

// The usual failure of a self-registration that cannot write its class keys.
constexpr HRESULT kSelfRegClassFailed = static_cast<HRESULT>(0x80040201u);  // SELFREG_E_CLASS

// Class object of the error-message server: every instance is a new server.
class ErrorServerFactory : public host::ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        IDovErrorLookup* server = tester::CreateErrorServer();
        if (server == nullptr)
            return E_OUTOFMEMORY;
        HRESULT hr = server->QueryInterface(riid, ppv);
        server->Release();
        return hr;
    }

    // Nothing is ever unloaded on this host, so there is nothing to hold.
    HRESULT LockServer(BOOL) override { return S_OK; }
};

host::wstring Ascii(const char* theText) {
    host::wstring text;
    for (; *theText != 0; ++theText)
        text.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*theText)));
    return text;
}

// "CLSID\{...}" of the error-message server.
host::wstring ClassKey() {
    WCHAR guid[39];
    StringFromGUID2(CLSID_DovErrorLookup, guid, 39);
    return Ascii("CLSID\\") + guid;
}

// This library's absolute path in UTF-16, or empty when it cannot be found
// or is not valid UTF-8 (registering a path that does not read back to the
// same file would leave a registration that never loads).
host::wstring OwnPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || info.dli_fname == nullptr)
        return host::wstring();
    // dladdr gives the name the library was loaded by, which may be relative
    // to a directory the registering process happened to be in.
    char* absolute = realpath(info.dli_fname, nullptr);
    if (absolute == nullptr)
        return host::wstring();
    std::string path(absolute);
    std::free(absolute);
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (units <= 1)
        return host::wstring();
    host::wstring wide(static_cast<std::size_t>(units), 0);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, &wide[0], units) !=
        units) {
        return host::wstring();
    }
    wide.resize(static_cast<std::size_t>(units) - 1);  // drop the terminator
    return wide;
}

LSTATUS SetString(HKEY theKey, const WCHAR* theName, const host::wstring& theText) {
    return RegSetValueExW(theKey, theName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(theText.c_str()),
                          static_cast<DWORD>((theText.size() + 1) * sizeof(WCHAR)));
}

}  // namespace

extern "C" TESTER_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_DovErrorLookup)
        return CLASS_E_CLASSNOTAVAILABLE;
    host::ComPtr<ErrorServerFactory> factory = host::make_com<ErrorServerFactory>();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

extern "C" TESTER_API HRESULT DllRegisterServer() {
    const host::wstring path = OwnPath();
    if (path.empty())
        return E_UNEXPECTED;
    const host::wstring classKey = ClassKey();
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return kSelfRegClassFailed;
    }
    LSTATUS status = SetString(key, nullptr, Ascii("Tester error-message server"));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return kSelfRegClassFailed;

    const host::wstring serverKey = classKey + Ascii("\\InprocServer32");
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, serverKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return kSelfRegClassFailed;
    }
    // The threading model first: a reader that sees the path sees a complete
    // registration.
    status = SetString(key, Ascii("ThreadingModel").c_str(), Ascii("Both"));
    if (status == ERROR_SUCCESS)
        status = SetString(key, nullptr, path);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : kSelfRegClassFailed;
}

extern "C" TESTER_API HRESULT DllUnregisterServer() {
    LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : kSelfRegClassFailed;
}
