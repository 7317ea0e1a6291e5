// Test interfaces, objects and a class factory whose references and calls
// the COM tests can observe.
#pragma once

#include <host/com.h>
#include <host/comptr.h>

#include <gtest/gtest.h>

#include <atomic>

// Two unrelated interfaces and one that extends the first.
struct IFoo : IUnknown {
    virtual int Foo() = 0;
};
struct IBar : IUnknown {
    virtual int Bar() = 0;
};
struct IFoo2 : IFoo {
    virtual int Foo2() = 0;
};

DEFINE_GUID(IID_IFoo, 0x6a1f3c20, 0x0b7e, 0x4d5a, 0x9c, 0x11, 0x2e, 0x4f, 0x60, 0x71, 0x82, 0x93);
DEFINE_GUID(IID_IBar, 0x6a1f3c21, 0x0b7e, 0x4d5a, 0x9c, 0x11, 0x2e, 0x4f, 0x60, 0x71, 0x82, 0x93);
DEFINE_GUID(IID_IFoo2, 0x6a1f3c22, 0x0b7e, 0x4d5a, 0x9c, 0x11, 0x2e, 0x4f, 0x60, 0x71, 0x82, 0x93);
// Implemented by nobody.
DEFINE_GUID(IID_INobody, 0x6a1f3c2f, 0x0b7e, 0x4d5a, 0x9c, 0x11, 0x2e, 0x4f, 0x60, 0x71, 0x82,
            0x93);

HOST_INTERFACE_ID(IFoo, IID_IFoo);
HOST_INTERFACE_ID(IBar, IID_IBar);
HOST_INTERFACE_ID_DERIVED(IFoo2, IFoo, IID_IFoo2);

namespace comtest {

// A class identifier of its own for each test, so that registrations left by
// a failing test cannot disturb another.
inline CLSID clsid(std::uint32_t n) {
    return CLSID{0x0c1a5500u + n, 0x1234, 0x5678, {0xAB, 0xCD, 0, 0, 0, 0, 0, 0x01}};
}

// Counts live instances so that tests can see objects being freed.
inline std::atomic<int> g_liveObjects{0};

class FooBar : public host::ComObject<IFoo2, IBar> {
  public:
    FooBar() { ++g_liveObjects; }
    ~FooBar() override { --g_liveObjects; }
    int Foo() override { return 1; }
    int Foo2() override { return 2; }
    int Bar() override { return 3; }
};

// A factory that makes FooBar objects, or fails as told, and records what it
// was given.
class TestFactory : public host::ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++m_Creates;
        m_LastOuter = outer;
        if (m_Fail != S_OK) {
            *ppv = nullptr;
            return m_Fail;
        }
        if (m_SucceedWithoutObject) {
            *ppv = nullptr;
            return S_OK;
        }
        host::ComPtr<FooBar> object = host::make_com<FooBar>();
        return object->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

    std::atomic<int> m_Creates{0};
    std::atomic<IUnknown*> m_LastOuter{nullptr};
    HRESULT m_Fail = S_OK;
    bool m_SucceedWithoutObject = false;
};

// Enters COM on the calling thread for the scope.
class ComScope {
  public:
    explicit ComScope(DWORD model = COINIT_MULTITHREADED)
        : m_Result(CoInitializeEx(nullptr, model)) {}
    ~ComScope() {
        if (SUCCEEDED(m_Result))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT result() const { return m_Result; }

  private:
    HRESULT m_Result;
};

}  // namespace comtest
