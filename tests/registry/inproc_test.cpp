// In-process servers found through HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32.
#include <host/com.h>
#include <host/guidtext.h>

#include "server/test_server.h"
#include "support.h"

namespace regtest {
namespace {

// {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}: served by no one.
constexpr HRESULT kInvalidValue = static_cast<HRESULT>(0x80040153u);  // REGDB_E_INVALIDVALUE
constexpr HRESULT kDllNotFound = static_cast<HRESULT>(0x800401F8u);   // kDllNotFound
constexpr HRESULT kErrorInDll = static_cast<HRESULT>(0x800401F9u);    // kErrorInDll

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

    // Registers `clsid`; with `type` REG_NONE its key has no default value.
    void register_class(REFCLSID clsid, DWORD type, const std::vector<BYTE>& bytes) {
        WCHAR guid[39];
        StringFromGUID2(clsid, guid, 39);
        HKEY key = create("CLSID\\" + narrow(guid) + "\\InprocServer32", HKEY_CLASSES_ROOT);
        if (type != REG_NONE) {
            ASSERT_EQ(set(key, w(""), type, bytes), ERROR_SUCCESS);
        }
    }

    static HRESULT activate(REFCLSID clsid, ITestProbe** probe) {
        *probe = reinterpret_cast<ITestProbe*>(1);  // must come back null on failure
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITestProbe,
                                reinterpret_cast<void**>(probe));
    }
};

TEST_F(InprocServers, RegisteredModuleIsLoadedOnceAndServesEveryActivation) {
    register_class(CLSID_TestProbe, REG_SZ, sz_bytes(w(TEST_SERVER_PATH)));
    ITestProbe* first = nullptr;
    ASSERT_EQ(activate(CLSID_TestProbe, &first), S_OK);
    LONG a = first->Next();
    ITestProbe* second = nullptr;
    ASSERT_EQ(activate(CLSID_TestProbe, &second), S_OK);
    EXPECT_NE(second, first);
    // One module, one counter: the second object continues where the first was.
    EXPECT_EQ(second->Next(), a + 1);
    EXPECT_EQ(first->Next(), a + 2);
    first->Release();
    second->Release();
}

TEST_F(InprocServers, ExpandablePathsTakeEnvironmentVariablesPlainOnesDoNot) {
    std::string path = TEST_SERVER_PATH;
    std::size_t slash = path.rfind('/');
    setenv("KES_TEST_SERVER_DIR", path.substr(0, slash).c_str(), 1);
    const std::vector<BYTE> written = sz_bytes(w("%KES_TEST_SERVER_DIR%" + path.substr(slash)));
    register_class(CLSID_TestProbeByHand, REG_SZ, written);
    ITestProbe* probe = nullptr;
    EXPECT_EQ(activate(CLSID_TestProbeByHand, &probe), kDllNotFound);
    EXPECT_EQ(probe, nullptr);
    // The failed load was not remembered: the corrected registration works.
    register_class(CLSID_TestProbeByHand, REG_EXPAND_SZ, written);
    ASSERT_EQ(activate(CLSID_TestProbeByHand, &probe), S_OK);
    probe->Release();
    unsetenv("KES_TEST_SERVER_DIR");
}

TEST_F(InprocServers, EveryWayARegistrationCanFailHasItsOwnCode) {
    const struct {
        const char* situation;
        bool registered;
        DWORD type;
        std::vector<BYTE> bytes;
        HRESULT result;
    } cases[] = {
        {"nothing registered", false, REG_NONE, {}, REGDB_E_CLASSNOTREG},
        {"key without a default value", true, REG_NONE, {}, REGDB_E_CLASSNOTREG},
        {"empty path", true, REG_SZ, {0, 0}, REGDB_E_CLASSNOTREG},
        {"not a string", true, REG_DWORD, {1, 0, 0, 0}, kInvalidValue},
        {"no such file", true, REG_SZ, sz_bytes(w(home() + "/none.so")), kDllNotFound},
        {"no DllGetClassObject", true, REG_SZ, sz_bytes(w("libc.so.6")), kErrorInDll},
        {"class not served", true, REG_SZ, sz_bytes(w(TEST_SERVER_PATH)),
         CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& each : cases) {
        if (each.registered)
            register_class(CLSID_Nobody, each.type, each.bytes);
        ITestProbe* probe = nullptr;
        EXPECT_EQ(activate(CLSID_Nobody, &probe), each.result) << each.situation;
        EXPECT_EQ(probe, nullptr) << each.situation;
    }
}

}  // namespace
}  // namespace regtest
