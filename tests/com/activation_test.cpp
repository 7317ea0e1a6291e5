// The process class table and activation: lookup, reference balance,
// single-use and suspended registrations, failures passed through, cookies,
// and register/create/revoke racing on several threads.
#include "support.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

using comtest::clsid;
using comtest::ComScope;
using comtest::TestFactory;
using host::ComPtr;

class Activation : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(m_Com.result(), S_OK); }

    // Registers `factory` for `id`; the cookie, or 0 after a failed check.
    DWORD Register(const CLSID& id, IUnknown* factory, DWORD flags = REGCLS_MULTIPLEUSE) {
        DWORD cookie = 0;
        EXPECT_EQ(CoRegisterClassObject(id, factory, CLSCTX_INPROC_SERVER, flags, &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
        return cookie;
    }

    HRESULT Create(const CLSID& id, REFIID riid, void** ppv, IUnknown* outer = nullptr) {
        return CoCreateInstance(id, outer, CLSCTX_ALL, riid, ppv);
    }

    ComScope m_Com;
};

TEST_F(Activation, RegisteredClassIsCreatedAndReferencesBalanceAfterRevoke) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Create(clsid(2), IID_IFoo, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    auto factory = host::make_com<TestFactory>();
    DWORD cookie = Register(clsid(2), factory.get());
    EXPECT_EQ(factory->ref_count(), 2u) << "the registration holds one reference";

    ComPtr<IFoo> foo;
    ASSERT_EQ(Create(clsid(2), IID_IFoo, foo.put_void()), S_OK);
    ASSERT_TRUE(foo);
    EXPECT_EQ(foo->Foo(), 1);
    EXPECT_EQ(factory->m_Creates, 1);
    EXPECT_EQ(factory->ref_count(), 2u) << "the factory reference taken for creation is given back";

    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory->ref_count(), 1u);
    EXPECT_EQ(foo->Foo(), 1) << "instances outlive the registration";
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Create(clsid(2), IID_IFoo, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG) << "a cookie is revoked once";
    EXPECT_EQ(factory->ref_count(), 1u);
}

// Any context mask finds a registration; the newest visible one wins; a
// single-use one serves one activation and a suspended one none until resumed,
// yet both must still be revoked.
TEST_F(Activation, WhichRegistrationAnActivationFinds) {
    auto older = host::make_com<TestFactory>();
    auto newer = host::make_com<TestFactory>();
    auto single = host::make_com<TestFactory>();
    auto suspended = host::make_com<TestFactory>();
    DWORD olderCookie = Register(clsid(6), older.get());
    DWORD newerCookie = Register(clsid(6), newer.get());
    DWORD singleCookie = Register(clsid(6), single.get(), REGCLS_SINGLEUSE);
    DWORD suspendedCookie =
        Register(clsid(6), suspended.get(), REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
    for (DWORD context : {CLSCTX_INPROC_SERVER, CLSCTX_INPROC_HANDLER, CLSCTX_LOCAL_SERVER,
                          CLSCTX_REMOTE_SERVER, CLSCTX_SERVER, CLSCTX_ALL}) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(clsid(6), nullptr, context, IID_IUnknown, object.put_void()),
                  S_OK)
            << context;
    }
    EXPECT_EQ(single->m_Creates, 1) << "the newest visible registration, used once";
    EXPECT_EQ(newer->m_Creates, 5);
    EXPECT_EQ(suspended->m_Creates, 0);
    EXPECT_EQ(single->ref_count(), 2u) << "hidden, but still registered";
    EXPECT_EQ(CoResumeClassObjects(), S_OK);
    ComPtr<IUnknown> object;
    EXPECT_EQ(Create(clsid(6), IID_IUnknown, object.put_void()), S_OK);
    EXPECT_EQ(suspended->m_Creates, 1);
    for (DWORD cookie : {suspendedCookie, singleCookie, newerCookie})
        EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(Create(clsid(6), IID_IUnknown, object.put_void()), S_OK);
    EXPECT_EQ(older->m_Creates, 1) << "the older one returns when the newer ones go";
    EXPECT_EQ(CoRevokeClassObject(olderCookie), S_OK);
    for (auto* factory : {older.get(), newer.get(), single.get(), suspended.get()})
        EXPECT_EQ(factory->ref_count(), 1u);
    // Cookies are never reused.
    std::set<DWORD> seen{olderCookie, newerCookie, singleCookie, suspendedCookie};
    for (int i = 0; i < 200; ++i) {
        DWORD cookie = Register(clsid(14), older.get());
        EXPECT_TRUE(seen.insert(cookie).second) << cookie;
        EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    }
}

TEST_F(Activation, FactoryFailuresArePassedThroughWithNullOutput) {
    auto factory = host::make_com<TestFactory>();
    DWORD cookie = Register(clsid(8), factory.get());
    // The factory's own object lacks the interface.
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(Create(clsid(8), IID_INobody, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(comtest::g_liveObjects, 0) << "the instance made for the failed request is freed";

    factory->m_Fail = CLASS_E_NOAGGREGATION;
    object = reinterpret_cast<void*>(0x1);
    IUnknown* outer = reinterpret_cast<IUnknown*>(&object);  // never called
    EXPECT_EQ(Create(clsid(8), IID_IUnknown, &object, outer), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->m_LastOuter, outer) << "the outer object reaches the factory";
    factory->m_Fail = S_OK;
    factory->m_SucceedWithoutObject = true;
    EXPECT_EQ(Create(clsid(8), IID_IUnknown, &object), E_UNEXPECTED)
        << "a success without an object is not passed on as success";
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory->ref_count(), 1u);

    // A class object without IClassFactory: no instance, but its own
    // interfaces are reachable as the class object.
    auto plain = host::make_com<comtest::FooBar>();
    cookie = Register(clsid(9), plain->identity());
    EXPECT_EQ(Create(clsid(9), IID_IUnknown, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    ComPtr<IBar> bar;
    EXPECT_EQ(CoGetClassObject(clsid(9), CLSCTX_ALL, nullptr, IID_IBar, bar.put_void()), S_OK);
    EXPECT_EQ(bar->Bar(), 3);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(Activation, RegistrationRefusesBadArgumentsWithoutTakingAReference) {
    auto factory = host::make_com<TestFactory>();
    DWORD cookie = 77;
    EXPECT_EQ(CoRegisterClassObject(clsid(11), nullptr, CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie),
              E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(
        CoRegisterClassObject(clsid(11), factory.get(), CLSCTX_ALL, REGCLS_MULTIPLEUSE, nullptr),
        E_INVALIDARG);
    cookie = 77;
    EXPECT_EQ(CoRegisterClassObject(clsid(11), factory.get(), CLSCTX_ALL, 0x100, &cookie),
              E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(factory->ref_count(), 1u);
    EXPECT_EQ(CoRevokeClassObject(0), E_INVALIDARG);
    EXPECT_EQ(CoRevokeClassObject(0xFFFFFFFFu), E_INVALIDARG);
    void* object = nullptr;
    int serverInfo = 0;
    EXPECT_EQ(CoGetClassObject(clsid(11), CLSCTX_ALL, reinterpret_cast<COSERVERINFO*>(&serverInfo),
                               IID_IClassFactory, &object),
              E_INVALIDARG);
    EXPECT_EQ(CoGetClassObject(clsid(11), CLSCTX_ALL, nullptr, IID_IClassFactory, nullptr),
              E_POINTER);
}

// Registrations belong to the process: one made by a thread that has since
// left COM is still found, and a thread outside COM may revoke it but not
// register.
TEST_F(Activation, RegistrationsOutliveTheirThreadAndRevokingNeedsNoCom) {
    auto factory = host::make_com<TestFactory>();
    DWORD cookie = 0;
    std::thread registrar([&] {
        ComScope com;
        CoRegisterClassObject(clsid(12), factory.get(), CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie);
    });
    registrar.join();
    ASSERT_NE(cookie, 0u);
    ComPtr<IUnknown> object;
    EXPECT_EQ(Create(clsid(12), IID_IUnknown, object.put_void()), S_OK);

    HRESULT registerOutside = S_OK, revokeOutside = E_FAIL;
    DWORD outsideCookie = 77;
    std::thread outside([&] {
        registerOutside = CoRegisterClassObject(clsid(12), factory.get(), CLSCTX_ALL,
                                                REGCLS_MULTIPLEUSE, &outsideCookie);
        revokeOutside = CoRevokeClassObject(cookie);
    });
    outside.join();
    EXPECT_EQ(registerOutside, CO_E_NOTINITIALIZED);
    EXPECT_EQ(outsideCookie, 0u);
    EXPECT_EQ(revokeOutside, S_OK);
    EXPECT_EQ(factory->ref_count(), 1u);
}

// A class object that, while being released by the table, registers and
// revokes another class: the table must not hold its lock across Release.
class ReentrantObject : public host::ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppv) override {
        // Activating from inside an activation.
        void* nested = nullptr;
        m_NestedResult = CoCreateInstance(clsid(16), nullptr, CLSCTX_ALL, IID_IUnknown, &nested);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
    ~ReentrantObject() override {
        auto other = host::make_com<TestFactory>();
        DWORD cookie = 0;
        m_Destroyed->first =
            CoRegisterClassObject(clsid(17), other.get(), CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie);
        m_Destroyed->second = CoRevokeClassObject(cookie);
    }

    HRESULT m_NestedResult = E_FAIL;
    std::pair<HRESULT, HRESULT>* m_Destroyed = nullptr;
};

TEST_F(Activation, ClassObjectsMayCallTheTableFromTheirOwnMethods) {
    std::pair<HRESULT, HRESULT> destroyed{E_FAIL, E_FAIL};
    auto object = host::make_com<ReentrantObject>();
    object->m_Destroyed = &destroyed;
    DWORD cookie = Register(clsid(15), object.get());
    void* instance = nullptr;
    EXPECT_EQ(Create(clsid(15), IID_IUnknown, &instance), E_NOINTERFACE);
    EXPECT_EQ(object->m_NestedResult, REGDB_E_CLASSNOTREG);
    object.reset();  // the table now holds the last reference
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(destroyed.first, S_OK);
    EXPECT_EQ(destroyed.second, S_OK);
}

// Several threads register, activate and revoke the same classes at once.
// Afterwards every factory is back to its own single reference, every
// instance is gone, and every activation either succeeded or found nothing.
TEST_F(Activation, ConcurrentRegisterCreateRevokeKeepsReferencesBalanced) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<ComPtr<TestFactory>> factories;
    for (int i = 0; i < kThreads; ++i)
        factories.push_back(host::make_com<TestFactory>());
    std::atomic<int> unexpected{0};
    std::atomic<int> created{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ComScope com;
            for (int round = 0; round < kRounds; ++round) {
                // Two classes shared by all threads, so that registrations,
                // lookups and revocations of one class interleave.
                CLSID id = clsid(20 + round % 2);
                DWORD flags = round % 3 == 0 ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE;
                DWORD cookie = 0;
                if (CoRegisterClassObject(id, factories[t].get(), CLSCTX_ALL, flags, &cookie) !=
                    S_OK)
                    ++unexpected;
                for (int k = 0; k < 3; ++k) {
                    ComPtr<IFoo> foo;
                    HRESULT hr =
                        CoCreateInstance(id, nullptr, CLSCTX_ALL, IID_IFoo, foo.put_void());
                    if (hr == S_OK && foo && foo->Foo() == 1)
                        ++created;
                    else if (hr != REGDB_E_CLASSNOTREG || foo)
                        ++unexpected;
                }
                if (CoRevokeClassObject(cookie) != S_OK)
                    ++unexpected;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(unexpected, 0);
    EXPECT_GT(created, 0);
    EXPECT_EQ(comtest::g_liveObjects, 0);
    int creates = 0;
    for (auto& factory : factories) {
        EXPECT_EQ(factory->ref_count(), 1u);
        creates += factory->m_Creates;
    }
    EXPECT_EQ(creates, created);
}

}  // namespace
