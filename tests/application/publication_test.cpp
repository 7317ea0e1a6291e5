// Publishing the server's port selector and test controller, binding proxies
// to them, and the reference counts on the way. The two classes publish the
// same way, so each case runs for both.
#include "support.h"

#include <host/taskalloc.h>

namespace {

using apptest::ProxyTest;

// What differs between the two published classes.
struct SelectorKind {
    using Proxy = CKesPortSelector;
    using Interface = IIntPortSelector;
    static constexpr const char* kFile = "kes/application/kesportselector";
    static constexpr const char* kSlot = "g_pPortSelector";
    static constexpr const char* kMember = "m_pPortSelector != 0";
    static tester::PortSelector* Server(ProxyTest& t) { return t.m_Selector.get(); }
    static LONG Server_Calls(ProxyTest& t) { return t.m_Selector->TotalCalls(); }
    static bool Valid() { return Proxy::IsPortSelectorValid(); }
    // One forwarding operation; its result code.
    static LONG Use(Proxy& proxy) {
        LONG count = 0;
        LONG* ports = nullptr;
        LONG hr = proxy.ListPorts(&count, &ports);
        CoTaskMemFree(ports);
        return hr;
    }
};

struct ControllerKind {
    using Proxy = CKesTestController;
    using Interface = IIntTestController;
    static constexpr const char* kFile = "kes/application/kestestcontroller";
    static constexpr const char* kSlot = "g_pTestController";
    static constexpr const char* kMember = "m_pTestController != 0";
    static tester::TestController* Server(ProxyTest& t) { return t.m_Controller.get(); }
    static LONG Server_Calls(ProxyTest& t) { return t.m_Controller->TotalCalls(); }
    static bool Valid() { return Proxy::IsTestControllerValid(); }
    static LONG Use(Proxy& proxy) {
        LONG duration = 0;
        return proxy.GetTestDuration(&duration);
    }
};

template <class Kind>
class Publication : public ProxyTest {
  protected:
    std::vector<std::string> Reports() const { return this->Asserted(Kind::kFile); }
    ULONG Refs() { return Kind::Server(*this)->ref_count(); }
    typename Kind::Interface* Pointer() { return Kind::Server(*this); }
};

using Kinds = ::testing::Types<SelectorKind, ControllerKind>;
TYPED_TEST_SUITE(Publication, Kinds);

TYPED_TEST(Publication, StatesAndReferenceCounts) {
    using Proxy = typename TypeParam::Proxy;
    EXPECT_FALSE(TypeParam::Valid());
    EXPECT_EQ(Proxy::Unglobalize(), S_OK);  // nothing published: harmless
    EXPECT_EQ(Proxy::Globalize(this->Pointer()), S_OK);
    EXPECT_TRUE(TypeParam::Valid());
    EXPECT_EQ(this->Refs(), 2u);
    typename TypeParam::Interface* local = nullptr;
    EXPECT_EQ(Proxy::Localize(&local), S_OK);
    EXPECT_EQ(local, this->Pointer());
    EXPECT_EQ(this->Refs(), 3u);
    local->Release();
    EXPECT_EQ(Proxy::Localize(nullptr), E_POINTER);
    EXPECT_EQ(this->Refs(), 2u);
    EXPECT_EQ(Proxy::Unglobalize(), S_OK);
    EXPECT_FALSE(TypeParam::Valid());
    EXPECT_EQ(this->Refs(), 1u);
    EXPECT_EQ(Proxy::Unglobalize(), S_OK);
    EXPECT_EQ(this->Refs(), 1u);
    EXPECT_TRUE(this->Reports().empty());
}

TYPED_TEST(Publication, SecondGlobalizeReplacesAndReleasesTheFirst) {
    using Proxy = typename TypeParam::Proxy;
    using Server = std::remove_pointer_t<decltype(TypeParam::Server(*this))>;
    auto other = host::make_com<Server>();
    ASSERT_EQ(Proxy::Globalize(this->Pointer()), S_OK);
    EXPECT_EQ(Proxy::Globalize(other.get()), S_OK);
    EXPECT_EQ(this->Reports(), std::vector<std::string>{std::string(TypeParam::kSlot) + " == 0"});
    EXPECT_EQ(this->Refs(), 1u);  // the first one's reference was given back
    EXPECT_EQ(other->ref_count(), 2u);
    typename TypeParam::Interface* local = nullptr;
    EXPECT_EQ(Proxy::Localize(&local), S_OK);
    EXPECT_EQ(local, other.get());
    local->Release();
    // Publishing the published pointer again keeps exactly one reference.
    EXPECT_EQ(Proxy::Globalize(other.get()), S_OK);
    EXPECT_EQ(other->ref_count(), 2u);
    // A null pointer is reported and changes nothing.
    this->Forget();
    EXPECT_EQ(Proxy::Globalize(nullptr), S_OK);
    EXPECT_EQ(this->Reports(),
              (std::vector<std::string>{"pi != 0", std::string(TypeParam::kSlot) + " == 0"}));
    EXPECT_TRUE(TypeParam::Valid());
    EXPECT_EQ(Proxy::Unglobalize(), S_OK);
    EXPECT_EQ(other->ref_count(), 1u);
}

TYPED_TEST(Publication, NothingPublishedFailsBindingAndCallsNothing) {
    using Proxy = typename TypeParam::Proxy;
    typename TypeParam::Interface* local = this->Pointer();
    EXPECT_EQ(Proxy::Localize(&local), E_NOINTERFACE);
    EXPECT_EQ(local, nullptr);
    EXPECT_EQ(this->Reports(), std::vector<std::string>{std::string(TypeParam::kSlot) + " != 0"});
    this->Forget();
    {
        Proxy proxy;
        EXPECT_EQ(TypeParam::Use(proxy), E_NOINTERFACE);
        // Binding is tried again, and fails again.
        EXPECT_EQ(TypeParam::Use(proxy), E_NOINTERFACE);
    }
    const std::string slot = std::string(TypeParam::kSlot) + " != 0";
    const std::vector<std::string> once = {slot, "SUCCEEDED(hr)", TypeParam::kMember,
                                           TypeParam::kMember};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(this->Reports(), twice);
    EXPECT_EQ(TypeParam::Server_Calls(*this), 0);
    EXPECT_EQ(this->Refs(), 1u);
}

TYPED_TEST(Publication, ProxyLeavesTheCountAsItFoundIt) {
    using Proxy = typename TypeParam::Proxy;
    ASSERT_EQ(Proxy::Globalize(this->Pointer()), S_OK);
    {
        Proxy proxy;
        EXPECT_EQ(this->Refs(), 2u);  // construction does not bind
        EXPECT_EQ(TypeParam::Use(proxy), S_OK);
        EXPECT_EQ(this->Refs(), 3u);
        EXPECT_EQ(TypeParam::Use(proxy), S_OK);
        EXPECT_EQ(this->Refs(), 3u);  // bound once
    }
    EXPECT_EQ(this->Refs(), 2u);
    EXPECT_TRUE(this->Reports().empty());
}

TYPED_TEST(Publication, BoundProxyOutlivesUnglobalizeButANewOneCannotBind) {
    using Proxy = typename TypeParam::Proxy;
    ASSERT_EQ(Proxy::Globalize(this->Pointer()), S_OK);
    Proxy bound;
    ASSERT_EQ(TypeParam::Use(bound), S_OK);
    EXPECT_EQ(Proxy::Unglobalize(), S_OK);
    EXPECT_EQ(this->Refs(), 2u);  // the proxy's own reference
    LONG before = TypeParam::Server_Calls(*this);
    EXPECT_EQ(TypeParam::Use(bound), S_OK);
    EXPECT_EQ(TypeParam::Server_Calls(*this), before + 1);
    Proxy late;
    EXPECT_EQ(TypeParam::Use(late), E_NOINTERFACE);
    EXPECT_EQ(TypeParam::Server_Calls(*this), before + 1);
}

}  // namespace
