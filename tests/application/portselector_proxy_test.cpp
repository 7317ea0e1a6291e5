// CKesPortSelector against the simulated port selector: forwarding and its
// cleared outputs, the converting operations (duplicates, slots, lengths,
// appended lists), subscriptions and their reports, and printing.
#include "support.h"

#include <host/oleauto.h>
#include <host/taskalloc.h>
#include <kes/error/keserror.h>

#include <atomic>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using apptest::Narrow;
using apptest::ProxyTest;
using apptest::W;
using tester::SelectorMethod;
using testsinks::RecordingSink;

// A port selector that misbehaves where a test tells it to: it hands out
// blocks together with failures, lists a group with a repeated port, or
// fills saved-information slots without terminators.
class OddSelector : public tester::PortSelector {
  public:
    OddSelector() : tester::PortSelector(tester::DefaultPortSelectorConfig(4)) {}

    HRESULT ListPortsInGroup(LONG group, LONG* count, LONG** ports) override {
        if (m_RepeatInGroup) {
            *count = 3;
            *ports = static_cast<LONG*>(CoTaskMemAlloc(3 * sizeof(LONG)));
            (*ports)[0] = 101;
            (*ports)[1] = 103;
            (*ports)[2] = 101;
            return S_OK;
        }
        if (m_FailWithBlock)
            return FailWithBlock(count, ports);
        return tester::PortSelector::ListPortsInGroup(group, count, ports);
    }
    HRESULT GetSavedPorts(LONG* count, LONG** ports) override {
        return m_FailWithBlock ? FailWithBlock(count, ports)
                               : tester::PortSelector::GetSavedPorts(count, ports);
    }
    HRESULT GetCorrespondingPorts(LONG n, const LONG* given, LONG* count, LONG** ports) override {
        return m_FailWithBlock
                   ? FailWithBlock(count, ports)
                   : tester::PortSelector::GetCorrespondingPorts(n, given, count, ports);
    }
    HRESULT ListSavedPortInfo(EListSavedInfoType type, LONG* count, LONG* width,
                              WCHAR** entries) override {
        if (m_FailWithBlock) {
            *entries = static_cast<WCHAR*>(CoTaskMemAlloc(8 * sizeof(WCHAR)));
            return E_FAIL;
        }
        if (m_Unterminated) {
            // Two slots of width 3, every unit a letter: no terminator at all.
            *count = 2;
            *width = 3;
            *entries = static_cast<WCHAR*>(CoTaskMemAlloc(6 * sizeof(WCHAR)));
            for (int i = 0; i < 6; ++i)
                (*entries)[i] = static_cast<WCHAR>('a' + i);
            return S_OK;
        }
        return tester::PortSelector::ListSavedPortInfo(type, count, width, entries);
    }
    HRESULT GetSavedPortInfo(EListSavedInfoType type, LONG keyLength, const WCHAR* key,
                             LONG* valueLength, WCHAR** value) override {
        if (m_FailWithBlock) {
            *value = static_cast<WCHAR*>(CoTaskMemAlloc(4 * sizeof(WCHAR)));
            return E_FAIL;
        }
        return tester::PortSelector::GetSavedPortInfo(type, keyLength, key, valueLength, value);
    }

    bool m_RepeatInGroup = false;
    bool m_FailWithBlock = false;
    bool m_Unterminated = false;

  private:
    static HRESULT FailWithBlock(LONG* count, LONG** ports) {
        *count = 2;
        *ports = static_cast<LONG*>(CoTaskMemAlloc(2 * sizeof(LONG)));
        return E_FAIL;
    }
};

class SelectorProxy : public ProxyTest {
  public:
    void SetUp() override {
        ProxyTest::SetUp();
        PublishSelector();
    }
    void TearDown() override {
        m_Holder.reset();  // gives its reference back before the counts are checked
        ProxyTest::TearDown();
    }
    std::optional<CKesPortSelector> m_Holder{std::in_place};
    CKesPortSelector& m_Proxy = *m_Holder;
};

// Frees every BSTR of a list and gives their texts.
std::vector<std::string> TakeAll(std::list<BSTR>& list) {
    std::vector<std::string> texts;
    for (BSTR text : list) {
        texts.push_back(Narrow(text));
        SysFreeString(text);
    }
    list.clear();
    return texts;
}

TEST_F(SelectorProxy, ListingsClearTheirOutputsAndPassCodesThrough) {
    CKesPortSelector& proxy = m_Proxy;
    struct Case {
        SelectorMethod method;
        std::function<LONG(LONG*, LONG**)> call;
        std::vector<LONG> ports;
    };
    const Case cases[] = {
        {SelectorMethod::ListPorts,
         [&](LONG* n, LONG** p) { return proxy.ListPorts(n, p); },
         {101, 102, 103, 104}},
        {SelectorMethod::ListSynchronizedPorts,
         [&](LONG* n, LONG** p) { return proxy.ListSynchronizedPorts(n, p); },
         {101, 102}},
        {SelectorMethod::ListPortsInGroup,
         [&](LONG* n, LONG** p) { return proxy.ListPortsInGroup(2, n, p); },
         {102, 104}},
        {SelectorMethod::ListPortsInModule,
         [&](LONG* n, LONG** p) { return proxy.ListPortsInModule(11, n, p); },
         {101, 102}},
        {SelectorMethod::ListPortsOnSameCpu,
         [&](LONG* n, LONG** p) { return proxy.ListPortsOnSameCpu(104, n, p); },
         {101, 102, 103, 104}},
    };
    for (const Case& c : cases) {
        const auto& call = c.call;
        LONG count = 0;
        LONG* ports = nullptr;
        m_Selector->SetResult(c.method, S_FALSE);
        ASSERT_EQ(call(&count, &ports), S_FALSE);
        EXPECT_EQ(std::vector<LONG>(ports, ports + count), c.ports);
        CoTaskMemFree(ports);

        // A failing server: the outputs were cleared before the call.
        m_Selector->SetResult(c.method, E_ACCESSDENIED);
        count = 55;
        LONG stale = 0;
        ports = &stale;
        EXPECT_EQ(call(&count, &ports), E_ACCESSDENIED);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(ports, nullptr);
        m_Selector->SetResult(c.method, S_OK);

        // Nowhere to clear: refused before any call.
        LONG before = m_Selector->Calls(c.method);
        EXPECT_EQ(call(nullptr, &ports), E_POINTER);
        EXPECT_EQ(call(&count, nullptr), E_POINTER);
        EXPECT_EQ(m_Selector->Calls(c.method), before);
    }
    EXPECT_TRUE(SelectorAsserts().empty());
}

TEST_F(SelectorProxy, SingleValueForwarding) {
    LONG number = 9, module = 9, type = 9;
    EXPECT_EQ(m_Proxy.GetPortNumber(103, &number), S_OK);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(m_Proxy.GetPortDetails(103, &module, &type), S_OK);
    EXPECT_EQ(module, 12);
    number = module = type = 9;
    EXPECT_EQ(m_Proxy.GetPortNumber(7, &number), E_INVALIDARG);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(m_Proxy.GetPortDetails(7, &module, &type), E_INVALIDARG);
    EXPECT_EQ(module, 0);
    EXPECT_EQ(type, 0);

    void* object = this;
    EXPECT_EQ(m_Proxy.GetPortInterface(101, IID_IUnknown, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    LONG length = -1;
    unsigned char* label = reinterpret_cast<unsigned char*>(this);
    m_Selector->SetResult(SelectorMethod::GetPortLabelFromHandle, E_FAIL);
    EXPECT_EQ(m_Proxy.GetPortLabelFromHandle(101, &length, &label), E_FAIL);
    EXPECT_EQ(label, nullptr);
    EXPECT_EQ(length, -1);  // the length is not cleared
    m_Selector->SetResult(SelectorMethod::GetPortLabelFromHandle, S_OK);
    ASSERT_EQ(m_Proxy.GetPortLabelFromHandle(101, &length, &label), S_OK);
    EXPECT_STREQ(reinterpret_cast<char*>(label), "P1");
    CoTaskMemFree(label);

    unsigned short* name = nullptr;
    ASSERT_EQ(m_Proxy.GetPortName(104, 0, &name), S_OK);
    EXPECT_EQ(host::wstring(name), W("Port 4"));
    CoTaskMemFree(name);
    BSTR bstr = nullptr;
    ASSERT_EQ(m_Proxy.GetPortLabelBstrFromHandle(104, &bstr), S_OK);
    EXPECT_EQ(Narrow(bstr), "P4");
    SysFreeString(bstr);
    EPiPortMode mode = PiPortModeOffline;
    EXPECT_EQ(m_Proxy.GetPortMode(&mode), S_OK);
    EXPECT_EQ(mode, PiPortModeSingleChassis);
    m_Selector->SetResult(SelectorMethod::ReadyToStart, static_cast<HRESULT>(0x00040007));
    EXPECT_EQ(m_Proxy.ReadyToStart(), static_cast<HRESULT>(0x00040007));
    EXPECT_EQ(m_Proxy.SetConfigFileReadOnlyMode(3), S_OK);
    EXPECT_EQ(m_Selector->Configuration().configReadOnly, 3);
}

TEST_F(SelectorProxy, SlaveAddressReportsEachMissingOutputInOrder) {
    ULONG ip = 0, tcp = 0, index = 0;
    EXPECT_EQ(m_Proxy.GetSlaveAddress(0, 102, &ip, &tcp, &index), S_OK);
    EXPECT_EQ(ip, 0x7F000001u);
    EXPECT_EQ(index, 1u);
    EXPECT_TRUE(SelectorAsserts().empty());
    // Reported, then passed on: the server refuses them itself.
    EXPECT_EQ(m_Proxy.GetSlaveAddress(0, 102, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(SelectorAsserts(),
              (std::vector<std::string>{"pIpAddress != 0", "pPortNumber != 0", "pPortIndex != 0"}));
}

TEST_F(SelectorProxy, QueriesAreFalseOnEveryFailure) {
    EXPECT_TRUE(m_Proxy.IsValidPort(101));
    EXPECT_FALSE(m_Proxy.IsValidPort(100));
    EXPECT_TRUE(m_Proxy.IsDummyPort(104));
    EXPECT_FALSE(m_Proxy.IsDummyPort(103));
    EXPECT_FALSE(m_Proxy.IsDummyPort(100));  // the server fails: false
    EXPECT_TRUE(m_Proxy.IsValidGroup(1));
    EXPECT_FALSE(m_Proxy.IsValidGroup(5));
    m_Selector->SetResult(SelectorMethod::IsValidPort, E_FAIL);
    EXPECT_FALSE(m_Proxy.IsValidPort(101));
}

TEST_F(SelectorProxy, AddPortsFromGroupAppendsAndRefusesDuplicates) {
    std::list<LONG> ports = {7};
    EXPECT_EQ(m_Proxy.AddPortsFromGroup(2, ports), 0);
    EXPECT_EQ(ports, (std::list<LONG>{7, 102, 104}));

    // The list already holds the group's second port: the first is appended,
    // then the duplicate stops the operation.
    Forget();
    ports = {103};
    EXPECT_EQ(m_Proxy.AddPortsFromGroup(1, ports), KES_E_PORT_ALREADY_LISTED);
    EXPECT_EQ(ports, (std::list<LONG>{103, 101}));
    EXPECT_NE(Console().find("Error 0x80040503 in kes/application/kesportselector, line "),
              std::string::npos);

    // The server cannot list the group.
    ports.clear();
    EXPECT_EQ(m_Proxy.AddPortsFromGroup(9, ports), KES_E_GROUP_PORTS_UNAVAILABLE);
    EXPECT_TRUE(ports.empty());
    EXPECT_NE(Console().find("Error 0x80040502 in kes/application/kesportselector, line "),
              std::string::npos);
    host::wstring text = W("stale");
    KesGetLastErrorMessage(KES_E_GROUP_PORTS_UNAVAILABLE, text);
    EXPECT_TRUE(text.empty());  // raised with no text of its own
}

TEST_F(SelectorProxy, RepeatInTheGroupsOwnListStopsAtItsSecondOccurrence) {
    auto odd = host::make_com<OddSelector>();
    CKesPortSelector::Unglobalize();
    ASSERT_EQ(CKesPortSelector::Globalize(odd.get()), S_OK);
    {
        CKesPortSelector proxy;
        std::list<LONG> ports;
        odd->m_RepeatInGroup = true;
        EXPECT_EQ(proxy.AddPortsFromGroup(1, ports), KES_E_PORT_ALREADY_LISTED);
        EXPECT_EQ(ports, (std::list<LONG>{101, 103}));
    }
    CKesPortSelector::Unglobalize();
    EXPECT_EQ(odd->ref_count(), 1u);
}

// A server that fails yet hands out a block: the proxy frees it (the address
// sanitizer reports a leak otherwise) and writes nothing.
TEST_F(SelectorProxy, BlocksHandedOutWithFailuresAreFreed) {
    auto odd = host::make_com<OddSelector>();
    odd->m_FailWithBlock = true;
    CKesPortSelector::Unglobalize();
    ASSERT_EQ(CKesPortSelector::Globalize(odd.get()), S_OK);
    {
        CKesPortSelector proxy;
        std::list<LONG> ports = {1};
        EXPECT_EQ(proxy.AddPortsFromGroup(1, ports), KES_E_GROUP_PORTS_UNAVAILABLE);
        EXPECT_EQ(proxy.GetSavedPorts(ports), E_FAIL);
        std::list<LONG> corresponding;
        EXPECT_EQ(proxy.GetCorrespondingPorts({101}, corresponding), E_FAIL);
        LONG port = 42;
        EXPECT_EQ(proxy.GetCorrespondingPort(101, port), E_FAIL);
        EXPECT_EQ(port, 42);
        std::list<BSTR> infos;
        EXPECT_EQ(proxy.ListSavedPortInfo(SavedInfoPortLabel, infos), E_FAIL);
        BSTR sentinel = SysAllocString(OLESTR("keep"));
        BSTR value = sentinel;
        EXPECT_EQ(proxy.GetSavedPortInfo(SavedInfoPortLabel, OLESTR("1"), &value), E_FAIL);
        EXPECT_EQ(value, sentinel);
        SysFreeString(sentinel);
        EXPECT_EQ(ports, std::list<LONG>{1});
        EXPECT_TRUE(corresponding.empty());
        EXPECT_TRUE(infos.empty());
    }
    CKesPortSelector::Unglobalize();
    EXPECT_EQ(odd->ref_count(), 1u);
}

TEST_F(SelectorProxy, SavedPortsAndSavedInformation) {
    std::list<LONG> ports = {5};
    EXPECT_EQ(m_Proxy.GetSavedPorts(ports), S_OK);
    EXPECT_EQ(ports, (std::list<LONG>{5, 101, 102, 103, 104}));

    // Three entries, 16 characters apart, appended behind what was there.
    auto config = m_Selector->Configuration();
    config.savedInfoWidth = 16;
    config.savedInfo[SavedInfoPortName].resize(3);
    config.savedInfo[SavedInfoPortName][1].first = W("fifteen chars..");
    ASSERT_EQ(m_Selector->Configure(config), S_OK);
    std::list<BSTR> infos = {SysAllocString(OLESTR("old"))};
    EXPECT_EQ(m_Proxy.ListSavedPortInfo(SavedInfoPortName, infos), S_OK);
    EXPECT_EQ(TakeAll(infos), (std::vector<std::string>{"old", "1", "fifteen chars..", "3"}));

    BSTR value = nullptr;
    EXPECT_EQ(m_Proxy.GetSavedPortInfo(SavedInfoPortLabel, OLESTR("3"), &value), S_OK);
    EXPECT_EQ(Narrow(value), "P3");
    EXPECT_EQ(SysStringLen(value), 2u);
    SysFreeString(value);
    EXPECT_EQ(m_Selector->LastSavedInfoKeyLength(), 2);

    // A null key goes out as the empty key, its terminator counted.
    BSTR untouched = reinterpret_cast<BSTR>(this);
    value = untouched;
    EXPECT_EQ(m_Proxy.GetSavedPortInfo(SavedInfoPortLabel, nullptr, &value),
              tester::TESTER_E_NOT_FOUND);
    EXPECT_EQ(value, untouched);
    EXPECT_EQ(m_Selector->LastSavedInfoKeyLength(), 1);
    EXPECT_EQ(m_Selector->LastSavedInfoKey(), host::wstring(1, 0));
    LONG before = m_Selector->Calls(SelectorMethod::GetSavedPortInfo);
    EXPECT_EQ(m_Proxy.GetSavedPortInfo(SavedInfoPortLabel, OLESTR("3"), nullptr), E_POINTER);
    EXPECT_EQ(m_Selector->Calls(SelectorMethod::GetSavedPortInfo), before);
}

TEST_F(SelectorProxy, SavedInformationNeverReadsPastItsSlot) {
    auto odd = host::make_com<OddSelector>();
    odd->m_Unterminated = true;
    CKesPortSelector::Unglobalize();
    ASSERT_EQ(CKesPortSelector::Globalize(odd.get()), S_OK);
    {
        CKesPortSelector proxy;
        std::list<BSTR> infos;
        EXPECT_EQ(proxy.ListSavedPortInfo(SavedInfoPortName, infos), S_OK);
        EXPECT_EQ(TakeAll(infos), (std::vector<std::string>{"abc", "def"}));
    }
    CKesPortSelector::Unglobalize();
}

TEST_F(SelectorProxy, PortMappingTextAndLength) {
    struct Case {
        std::list<host::wstring> entries;
        host::wstring sent;
        LONG length;
    };
    host::wstring withNul = W("1 2");
    withNul.push_back(0);
    withNul += W(" 9");
    const Case cases[] = {
        {{W("101 102"), W("103 104")}, W("101 102 103 104 "), 16},
        {{W("1 2"), W("3 4")}, W("1 2 3 4 "), 8},
        {{}, W(""), 0},
        // An embedded NUL ends the text there.
        {{withNul, W("3 4")}, W("1 2"), 3},
    };
    for (const Case& c : cases) {
        m_Selector->SetResult(SelectorMethod::SetPortMapping, E_FAIL);  // keep the mapping
        EXPECT_EQ(m_Proxy.SetPortMapping(c.entries), E_FAIL);
        m_Selector->SetResult(SelectorMethod::SetPortMapping, S_OK);
        m_Proxy.SetPortMapping(c.entries);
        EXPECT_EQ(m_Selector->LastMappingLength(), c.length);
        EXPECT_EQ(m_Selector->LastMapping(), c.sent);
    }
}

TEST_F(SelectorProxy, CorrespondingAndReplacedPorts) {
    ASSERT_EQ(m_Proxy.SetPortMapping({W("101 104"), W("102 103")}), S_OK);
    std::list<LONG> corresponding;
    EXPECT_EQ(m_Proxy.GetCorrespondingPorts({102, 101}, corresponding), S_OK);
    EXPECT_EQ(corresponding, (std::list<LONG>{103, 104}));
    EXPECT_TRUE(SelectorAsserts().empty());

    // A non-empty output list is reported; the old entries stay in front.
    corresponding = {999};
    EXPECT_EQ(m_Proxy.GetCorrespondingPorts({102, 104}, corresponding), S_FALSE);
    EXPECT_EQ(corresponding, (std::list<LONG>{999, 103, 104}));
    EXPECT_EQ(SelectorAsserts(),
              std::vector<std::string>{"originalPorts.size() == correspondingPorts.size()"});

    // 0 on any success, S_FALSE (an unmapped port) included.
    LONG port = -1;
    EXPECT_EQ(m_Proxy.GetCorrespondingPort(104, port), 0);
    EXPECT_EQ(port, 104);
    EXPECT_EQ(m_Proxy.GetCorrespondingPort(101, port), 0);
    EXPECT_EQ(port, 104);

    LONG replaced = 99;
    EXPECT_EQ(m_Proxy.GetReplacedPort(103, replaced), S_OK);
    EXPECT_EQ(replaced, 102);
    replaced = 99;
    EXPECT_EQ(m_Proxy.GetReplacedPort(55, replaced), E_INVALIDARG);  // wrote nothing
    EXPECT_EQ(replaced, 0);
    std::list<LONG> none;
    EXPECT_EQ(m_Proxy.GetCorrespondingPorts({}, none), S_OK);
    EXPECT_TRUE(none.empty());
}

TEST_F(SelectorProxy, EventsReachAdvisedSinksAndStopAfterUnadvise) {
    auto sink = host::make_com<RecordingSink>();
    ASSERT_EQ(m_Proxy.Advise(sink.get()), 0);
    ASSERT_EQ(m_Proxy.AdviseOnGuardEvents(sink.get()), 0);
    EXPECT_EQ(m_Selector->EventSinkCount(), 1u);
    EXPECT_EQ(m_Selector->GuardSinkCount(), 1u);
    m_Selector->SetPortMode(PiPortModeOffline);
    m_Selector->ReservePort(101, 3);
    EXPECT_EQ(m_Proxy.Unadvise(), 0);
    m_Selector->SetPortMode(PiPortModeSingleChassis);
    m_Selector->ReleasePort(101);
    EXPECT_EQ(m_Proxy.UnadviseOnGuardEvents(), 0);
    m_Selector->ReservePort(101, 4);
    EXPECT_EQ(sink->Events(),
              (std::vector<std::string>{"mode 2", "reserved 101 3", "released 101"}));
    EXPECT_EQ(sink->ref_count(), 1u);
    EXPECT_TRUE(SelectorAsserts().empty());
}

TEST_F(SelectorProxy, SubscriptionFailuresChangeNothing) {
    // Unsubscribed: reported, cookie 0 passed on, the server's answer back.
    EXPECT_EQ(m_Proxy.Unadvise(), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_Proxy.UnadviseOnGuardEvents(), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(SelectorAsserts(),
              (std::vector<std::string>{"m_ClientCookie != 0", "m_ClientCookieGuardEvents != 0"}));
    // A sink without the events interface, and no sink at all.
    auto unrelated = host::make_com<testsinks::UnrelatedSink>();
    EXPECT_EQ(m_Proxy.Advise(reinterpret_cast<IIntPortSelectorEvents*>(unrelated->identity())),
              CONNECT_E_CANNOTCONNECT);
    Forget();
    EXPECT_EQ(m_Proxy.AdviseOnGuardEvents(nullptr), E_POINTER);
    EXPECT_EQ(SelectorAsserts(), std::vector<std::string>{"client != NULL"});
    EXPECT_EQ(m_Selector->EventSinkCount(), 0u);
    // The proxy still subscribes normally afterwards.
    auto sink = host::make_com<RecordingSink>();
    EXPECT_EQ(m_Proxy.Advise(sink.get()), 0);
    EXPECT_EQ(m_Proxy.Unadvise(), 0);
    EXPECT_EQ(unrelated->ref_count(), 1u);
}

TEST_F(SelectorProxy, DestroyingASubscribedProxyReportsAndStillReleases) {
    auto sink = host::make_com<RecordingSink>();
    {
        CKesPortSelector proxy;
        ASSERT_EQ(proxy.Advise(sink.get()), 0);
        ASSERT_EQ(proxy.AdviseOnGuardEvents(sink.get()), 0);
        EXPECT_EQ(m_Selector->ref_count(), 3u);
    }
    EXPECT_EQ(SelectorAsserts(),
              (std::vector<std::string>{"m_ClientCookie == 0", "m_ClientCookieGuardEvents == 0"}));
    EXPECT_EQ(m_Selector->ref_count(), 2u);
    // The subscriptions were not ended: the server still holds the sink.
    EXPECT_EQ(m_Selector->EventSinkCount(), 1u);
    m_Selector->DisconnectAllSinks();
    EXPECT_EQ(sink->ref_count(), 1u);
}

TEST_F(SelectorProxy, NothingPublishedEveryOperationFailsWithoutACall) {
    CKesPortSelector::Unglobalize();
    CKesPortSelector proxy;
    LONG count = 5, value = 5, other = 5;
    LONG* ports = nullptr;
    void* object = nullptr;
    unsigned char* label = nullptr;
    unsigned short* name = nullptr;
    BSTR bstr = nullptr;
    EPiPortMode mode = PiPortModeOffline;
    ULONG a = 0, b = 0, c = 0;
    std::list<LONG> list = {1};
    std::list<LONG> out;
    std::list<BSTR> infos;
    auto sink = host::make_com<RecordingSink>();
    const std::vector<std::function<LONG()>> operations = {
        [&] { return proxy.ListPorts(&count, &ports); },
        [&] { return proxy.ListSynchronizedPorts(&count, &ports); },
        [&] { return proxy.ListPortsInGroup(1, &count, &ports); },
        [&] { return proxy.ListPortsInModule(11, &count, &ports); },
        [&] { return proxy.ListPortsOnSameCpu(101, &count, &ports); },
        [&] { return proxy.GetPortInterface(101, IID_IUnknown, &object); },
        [&] { return proxy.GetPortNumber(101, &value); },
        [&] { return proxy.GetPortDetails(101, &value, &other); },
        [&] { return proxy.GetPortLabelFromHandle(101, &value, &label); },
        [&] { return proxy.GetPortMode(&mode); },
        [&] { return proxy.GetPortName(101, 0, &name); },
        [&] { return proxy.GetPortLabelBstrFromHandle(101, &bstr); },
        [&] { return proxy.GetSlaveAddress(0, 101, &a, &b, &c); },
        [&] { return proxy.ReadyToStart(); },
        [&] { return proxy.SetConfigFileReadOnlyMode(1); },
        [&] { return proxy.AddPortsFromGroup(1, list); },
        [&] { return proxy.GetSavedPorts(list); },
        [&] { return proxy.ListSavedPortInfo(SavedInfoPortLabel, infos); },
        [&] { return proxy.GetSavedPortInfo(SavedInfoPortLabel, OLESTR("1"), &bstr); },
        [&] { return proxy.SetPortMapping({W("1 2")}); },
        [&] { return proxy.GetCorrespondingPorts({101}, out); },
        [&] { return proxy.GetCorrespondingPort(101, value); },
        [&] { return proxy.GetReplacedPort(101, value); },
        [&] { return proxy.Advise(sink.get()); },
        [&] { return proxy.Unadvise(); },
        [&] { return proxy.AdviseOnGuardEvents(sink.get()); },
        [&] { return proxy.UnadviseOnGuardEvents(); },
    };
    for (std::size_t i = 0; i < operations.size(); ++i)
        EXPECT_EQ(operations[i](), E_NOINTERFACE) << "operation " << i;
    EXPECT_FALSE(proxy.IsValidPort(101));
    EXPECT_FALSE(proxy.IsDummyPort(104));
    EXPECT_FALSE(proxy.IsValidGroup(1));
    EXPECT_EQ(m_Selector->TotalCalls(), 0);
    // Outputs are not even cleared: binding fails first.
    EXPECT_EQ(count, 5);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(list, std::list<LONG>{1});
    EXPECT_TRUE(out.empty() && infos.empty());
    EXPECT_EQ(sink->ref_count(), 1u);
}

TEST_F(SelectorProxy, SeparateProxiesOnSeparateThreadsShareThePublishedSelector) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            CKesPortSelector proxy;
            for (int round = 0; round < kRounds; ++round) {
                std::list<LONG> ports;
                if (proxy.AddPortsFromGroup(1, ports) != 0 || ports != std::list<LONG>{101, 103})
                    ++wrong;
                std::list<LONG> corresponding;
                if (FAILED(proxy.GetCorrespondingPorts(ports, corresponding)) ||
                    corresponding.size() != 2)
                    ++wrong;
                if (!proxy.IsValidPort(102))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(m_Selector->ref_count(), 2u);  // the fixture's and the publication's
}

TEST(PortListPrinting, ValuesInOrderSeparatedByOneSpace) {
    struct Case {
        std::list<LONG> ports;
        const char* text;
    };
    const Case cases[] = {
        {{}, ""},
        {{7}, "7"},
        {{101, 102, 103}, "101 102 103"},
        {{-1, 0, 2147483647}, "-1 0 2147483647"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        out << "[" << c.ports << "]";
        EXPECT_EQ(out.str(), std::string("[") + c.text + "]");
    }
}

}  // namespace
