// In-process servers found through HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32.
#include <host/com.h>
#include <host/guidtext.h>

#include "server/test_server.h"
#include "support.h"

#include <cstring>

namespace regtest {
namespace {

constexpr HRESULT kInvalidValue = static_cast<HRESULT>(0x80040153u);  // REGDB_E_INVALIDVALUE
constexpr HRESULT kDllNotFound = static_cast<HRESULT>(0x800401F8u);   // CO_E_DLLNOTFOUND
constexpr HRESULT kErrorInDll = static_cast<HRESULT>(0x800401F9u);    // CO_E_ERRORINDLL

// {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}: served by no one.
DEFINE_GUID(CLSID_Nobody, 0x0F1E2D3C, 0x4B5A, 0x6978, 0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1,
            0xF0);

class InprocServers : public FreshStore {
  protected:
    void SetUp() override {
        FreshStore::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override {
        CoUninitialize();
        FreshStore::TearDown();
    }

    // Registers `clsid` with a default value of `type` holding `bytes`.
    void register_class(REFCLSID clsid, DWORD type, const std::vector<BYTE>& bytes) {
        HKEY key = create_server_key(clsid);
        ASSERT_EQ(
            RegSetValueExW(key, nullptr, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void register_path(REFCLSID clsid, const std::string& path, DWORD type = REG_SZ) {
        register_class(clsid, type, sz_bytes(w(path)));
    }
    HKEY create_server_key(REFCLSID clsid) {
        WCHAR guid[39];
        StringFromGUID2(clsid, guid, 39);
        host::wstring name = w("CLSID\\") + guid + w("\\InprocServer32");
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    static HRESULT activate(REFCLSID clsid, ITestProbe** probe) {
        *probe = reinterpret_cast<ITestProbe*>(1);  // must come back null on failure
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITestProbe,
                                reinterpret_cast<void**>(probe));
    }
};

TEST_F(InprocServers, RegisteredModuleIsLoadedOnceAndServesEveryActivation) {
    register_path(CLSID_TestProbe, TEST_SERVER_PATH);
    ITestProbe* first = nullptr;
    ASSERT_EQ(activate(CLSID_TestProbe, &first), S_OK);
    ASSERT_NE(first, nullptr);
    LONG a = first->Next();
    ITestProbe* second = nullptr;
    ASSERT_EQ(activate(CLSID_TestProbe, &second), S_OK);
    EXPECT_NE(second, first);
    // One module, one counter: the second object continues where the first was.
    EXPECT_EQ(second->Next(), a + 1);
    EXPECT_EQ(first->Next(), a + 2);
    first->Release();
    second->Release();

    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_TestProbe, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    void* aggregated = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);
    factory->Release();
}

TEST_F(InprocServers, ExpandablePathsTakeEnvironmentVariablesPlainOnesDoNot) {
    std::string path = TEST_SERVER_PATH;
    std::size_t slash = path.rfind('/');
    setenv("KES_TEST_SERVER_DIR", path.substr(0, slash).c_str(), 1);
    std::string written = "%KES_TEST_SERVER_DIR%" + path.substr(slash);

    register_path(CLSID_TestProbeByHand, written, REG_SZ);
    ITestProbe* probe = nullptr;
    EXPECT_EQ(activate(CLSID_TestProbeByHand, &probe), kDllNotFound);
    EXPECT_EQ(probe, nullptr);

    // The failed load was not remembered: the corrected registration works.
    register_path(CLSID_TestProbeByHand, written, REG_EXPAND_SZ);
    ASSERT_EQ(activate(CLSID_TestProbeByHand, &probe), S_OK);
    probe->Release();
    unsetenv("KES_TEST_SERVER_DIR");
}

TEST_F(InprocServers, EveryWayARegistrationCanFailHasItsOwnCode) {
    ITestProbe* probe = nullptr;
    EXPECT_EQ(activate(CLSID_Nobody, &probe), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(probe, nullptr);

    RegCloseKey(create_server_key(CLSID_Nobody));  // a key without a default value
    EXPECT_EQ(activate(CLSID_Nobody, &probe), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(probe, nullptr);

    register_class(CLSID_Nobody, REG_SZ, {0, 0});  // an empty path
    EXPECT_EQ(activate(CLSID_Nobody, &probe), REGDB_E_CLASSNOTREG);

    register_class(CLSID_Nobody, REG_DWORD, {1, 0, 0, 0});
    EXPECT_EQ(activate(CLSID_Nobody, &probe), kInvalidValue);
    EXPECT_EQ(probe, nullptr);

    register_path(CLSID_Nobody, home() + "/no-such-module.so");
    EXPECT_EQ(activate(CLSID_Nobody, &probe), kDllNotFound);
    EXPECT_EQ(probe, nullptr);

    // A real shared object that is no server.
    register_path(CLSID_Nobody, "libc.so.6");
    EXPECT_EQ(activate(CLSID_Nobody, &probe), kErrorInDll);
    EXPECT_EQ(probe, nullptr);

    // The server is found but does not implement the class.
    register_path(CLSID_Nobody, TEST_SERVER_PATH);
    EXPECT_EQ(activate(CLSID_Nobody, &probe), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(probe, nullptr);
}

}  // namespace
}  // namespace regtest
