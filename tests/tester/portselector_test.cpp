// The simulated port selector: its listings and lookups, the mapping, saved
// information, events, forced answers and the registry form.
#include "sinks.h"

#include <host/oleauto.h>
#include <host/registry.h>
#include <host/taskalloc.h>
#include <tester/portselector.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tester::PortSelector;
using tester::SelectorMethod;
using testsinks::RecordingSink;

// Takes a task-memory array of LONGs and frees it.
std::vector<LONG> Take(LONG count, LONG* block) {
    std::vector<LONG> values(block, block + count);
    CoTaskMemFree(block);
    return values;
}

std::vector<LONG> List(HRESULT (PortSelector::*method)(LONG*, LONG**), PortSelector& selector) {
    LONG count = -1;
    LONG* block = nullptr;
    EXPECT_EQ((selector.*method)(&count, &block), S_OK);
    return Take(count, block);
}

host::wstring W(const char* text) {
    std::string narrow(text);
    return host::wstring(narrow.begin(), narrow.end());
}

TEST(SimulatedPortSelector, DefaultConfigurationListings) {
    auto selector = host::make_com<PortSelector>(tester::DefaultPortSelectorConfig(6));
    EXPECT_EQ(List(&PortSelector::ListPorts, *selector),
              (std::vector<LONG>{101, 102, 103, 104, 105, 106}));
    EXPECT_EQ(List(&PortSelector::ListSynchronizedPorts, *selector), (std::vector<LONG>{101, 102}));
    EXPECT_EQ(List(&PortSelector::GetSavedPorts, *selector),
              (std::vector<LONG>{101, 102, 103, 104, 105, 106}));

    struct Case {
        HRESULT (PortSelector::*method)(LONG, LONG*, LONG**);
        LONG argument;
        HRESULT result;
        std::vector<LONG> ports;
    };
    const Case cases[] = {
        {&PortSelector::ListPortsInGroup, 1, S_OK, {101, 103, 105}},
        {&PortSelector::ListPortsInGroup, 2, S_OK, {102, 104, 106}},
        {&PortSelector::ListPortsInGroup, 9, E_INVALIDARG, {}},
        {&PortSelector::ListPortsInModule, 12, S_OK, {103, 104}},
        {&PortSelector::ListPortsInModule, 99, E_INVALIDARG, {}},
        {&PortSelector::ListPortsOnSameCpu, 106, S_OK, {105, 106}},
        {&PortSelector::ListPortsOnSameCpu, 101, S_OK, {101, 102, 103, 104}},
        {&PortSelector::ListPortsOnSameCpu, 5, E_INVALIDARG, {}},
    };
    for (const Case& c : cases) {
        LONG count = -1;
        LONG* block = nullptr;
        EXPECT_EQ(((*selector).*c.method)(c.argument, &count, &block), c.result) << c.argument;
        if (SUCCEEDED(c.result)) {
            EXPECT_EQ(Take(count, block), c.ports) << c.argument;
        } else {
            EXPECT_EQ(count, -1);  // nothing written on failure
            EXPECT_EQ(block, nullptr);
        }
    }

    LONG flag = -1;
    EXPECT_EQ(selector->IsValidPort(103, &flag), S_OK);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(selector->IsValidPort(3, &flag), S_OK);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(selector->IsDummyPort(106, &flag), S_OK);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(selector->IsDummyPort(105, &flag), S_OK);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(selector->IsValidGroup(2, &flag), S_OK);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(selector->IsValidGroup(0, &flag), S_OK);
    EXPECT_EQ(flag, 0);
    LONG module = 0, type = 0, number = 0;
    EXPECT_EQ(selector->GetPortDetails(104, &module, &type), S_OK);
    EXPECT_EQ(module, 12);
    EXPECT_EQ(type, 11);
    EXPECT_EQ(selector->GetPortNumber(104, &number), S_OK);
    EXPECT_EQ(number, 4);
    EXPECT_EQ(selector->ListPorts(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(selector->ReadyToStart(), S_OK);
}

TEST(SimulatedPortSelector, NamesAndLabelsAreFreshAllocations) {
    auto selector = host::make_com<PortSelector>(tester::DefaultPortSelectorConfig(3));
    WCHAR* name = nullptr;
    ASSERT_EQ(selector->GetPortName(102, 0, &name), S_OK);
    EXPECT_EQ(host::wstring(name), W("Port 2"));
    CoTaskMemFree(name);
    ASSERT_EQ(selector->GetPortName(102, 1, &name), S_OK);
    EXPECT_EQ(host::wstring(name), W("M11/Port 2"));
    CoTaskMemFree(name);
    name = nullptr;
    EXPECT_EQ(selector->GetPortName(102, 7, &name), E_INVALIDARG);
    EXPECT_EQ(name, nullptr);

    BSTR label = nullptr;
    ASSERT_EQ(selector->GetPortLabelBstrFromHandle(103, &label), S_OK);
    EXPECT_EQ(host::wstring(label, SysStringLen(label)), W("P3"));
    SysFreeString(label);
    LONG length = 0;
    unsigned char* bytes = nullptr;
    ASSERT_EQ(selector->GetPortLabelFromHandle(103, &length, &bytes), S_OK);
    EXPECT_EQ(length, 2);
    EXPECT_STREQ(reinterpret_cast<char*>(bytes), "P3");
    CoTaskMemFree(bytes);
}

TEST(SimulatedPortSelector, MappingParsesPairsAndAnswersBothWays) {
    auto selector = host::make_com<PortSelector>(tester::DefaultPortSelectorConfig(4));
    host::wstring text = W(" 101 104\t102 103 ");
    ASSERT_EQ(selector->SetPortMapping(static_cast<LONG>(text.size()), text.c_str()), S_OK);
    EXPECT_EQ(selector->LastMapping(), text);

    const LONG given[] = {102, 101, 104};
    LONG count = 0;
    LONG* block = nullptr;
    // 104 is not mapped: it stands for itself, which S_FALSE says.
    EXPECT_EQ(selector->GetCorrespondingPorts(3, given, &count, &block), S_FALSE);
    EXPECT_EQ(Take(count, block), (std::vector<LONG>{103, 104, 104}));
    EXPECT_EQ(selector->GetCorrespondingPorts(2, given, &count, &block), S_OK);
    EXPECT_EQ(Take(count, block), (std::vector<LONG>{103, 104}));

    LONG replaced = -1;
    EXPECT_EQ(selector->GetReplacedPort(103, &replaced), S_OK);
    EXPECT_EQ(replaced, 102);
    EXPECT_EQ(selector->GetReplacedPort(102, &replaced), S_FALSE);
    EXPECT_EQ(replaced, 0);
    replaced = -1;
    EXPECT_EQ(selector->GetReplacedPort(55, &replaced), E_INVALIDARG);
    EXPECT_EQ(replaced, -1);

    // Malformed mappings change nothing; only `length` units are read.
    for (const char* bad : {"1", "1 2 3", "1 x", "1-2 3 4", "99999999999 1"}) {
        host::wstring wide = W(bad);
        EXPECT_EQ(selector->SetPortMapping(static_cast<LONG>(wide.size()), wide.c_str()),
                  E_INVALIDARG)
            << bad;
    }
    EXPECT_EQ(selector->Configuration().mapping.size(), 2u);
    host::wstring longer = W("101 102 junk");
    EXPECT_EQ(selector->SetPortMapping(7, longer.c_str()), S_OK);
    EXPECT_EQ(selector->Configuration().mapping, (std::vector<std::pair<LONG, LONG>>{{101, 102}}));
    EXPECT_EQ(selector->SetPortMapping(0, nullptr), S_OK);
    EXPECT_TRUE(selector->Configuration().mapping.empty());
    EXPECT_EQ(selector->SetPortMapping(-1, longer.c_str()), E_INVALIDARG);
}

TEST(SimulatedPortSelector, SavedInformationSlotsAndLookups) {
    auto config = tester::DefaultPortSelectorConfig(3);
    config.savedInfoWidth = 16;
    auto selector = host::make_com<PortSelector>(config);
    LONG count = 0, width = 0;
    WCHAR* entries = nullptr;
    ASSERT_EQ(selector->ListSavedPortInfo(SavedInfoPortName, &count, &width, &entries), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(host::wstring(entries + 0), W("1"));
    EXPECT_EQ(host::wstring(entries + 16), W("2"));
    EXPECT_EQ(host::wstring(entries + 32), W("3"));
    CoTaskMemFree(entries);
    // A kind with nothing saved: no entries, still a block to free.
    ASSERT_EQ(selector->ListSavedPortInfo(SavedInfoUserData, &count, &width, &entries), S_OK);
    EXPECT_EQ(count, 0);
    CoTaskMemFree(entries);
    EXPECT_EQ(
        selector->ListSavedPortInfo(static_cast<EListSavedInfoType>(9), &count, &width, &entries),
        E_INVALIDARG);

    LONG length = 0;
    WCHAR* value = nullptr;
    const WCHAR key[] = {'2', 0};
    ASSERT_EQ(selector->GetSavedPortInfo(SavedInfoPortLabel, 2, key, &length, &value), S_OK);
    EXPECT_EQ(host::wstring(value), W("P2"));
    EXPECT_EQ(length, 2);
    CoTaskMemFree(value);
    value = nullptr;
    EXPECT_EQ(selector->GetSavedPortInfo(SavedInfoPortLabel, 1, OLESTR(""), &length, &value),
              tester::TESTER_E_NOT_FOUND);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(selector->LastSavedInfoKeyLength(), 1);
    EXPECT_EQ(selector->GetSavedPortInfo(SavedInfoPortLabel, 0, key, &length, &value),
              E_INVALIDARG);
}

TEST(SimulatedPortSelector, ChangesFireEventsAtSubscribedSinks) {
    auto selector = host::make_com<PortSelector>(tester::DefaultPortSelectorConfig(2));
    auto sink = host::make_com<RecordingSink>();
    host::ComPtr<IConnectionPoint> events, guard;
    ASSERT_EQ(selector->FindConnectionPoint(IID_IIntPortSelectorEvents, events.put()), S_OK);
    ASSERT_EQ(selector->FindConnectionPoint(IID_IIntPortSelectorGuardEvents, guard.put()), S_OK);
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(events->Advise(sink->identity(), &c1), S_OK);
    ASSERT_EQ(guard->Advise(sink->identity(), &c2), S_OK);

    tester::PortConfig port;
    port.handle = 200;
    port.number = 9;
    EXPECT_EQ(selector->AddPort(port), S_OK);
    EXPECT_EQ(selector->AddPort(port), E_INVALIDARG);  // handle in use: no event
    selector->SetPortMode(PiPortModeMultiChassis);
    EXPECT_EQ(selector->SetPortMapping(7, OLESTR("101 200")), S_OK);
    EXPECT_EQ(selector->ReservePort(200, 4), S_OK);
    EXPECT_EQ(selector->PortHolder(200), 4);
    EXPECT_EQ(selector->ReleasePort(200), S_OK);
    EXPECT_EQ(selector->ReleasePort(200), E_INVALIDARG);
    EXPECT_EQ(selector->SetConfigFileReadOnlyMode(1), S_OK);
    EXPECT_EQ(selector->RemovePort(200), S_OK);
    EXPECT_EQ(selector->RemovePort(200), E_INVALIDARG);
    EXPECT_EQ(sink->Events(),
              (std::vector<std::string>{"added 200", "mode 1", "mapping", "reserved 200 4",
                                        "released 200", "readonly 1", "removed 200"}));
    EXPECT_EQ(events->Unadvise(c1), S_OK);
    EXPECT_EQ(guard->Unadvise(c2), S_OK);
    EXPECT_EQ(selector->AddPort(port), S_OK);
    EXPECT_EQ(sink->Count(), 7u);
    EXPECT_EQ(sink->ref_count(), 1u);
}

TEST(SimulatedPortSelector, ForcedAnswersAndCallCounts) {
    auto selector = host::make_com<PortSelector>(tester::DefaultPortSelectorConfig(2));
    selector->SetResult(SelectorMethod::ListPorts, E_ACCESSDENIED);
    LONG count = -1;
    LONG* block = nullptr;
    EXPECT_EQ(selector->ListPorts(&count, &block), E_ACCESSDENIED);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(block, nullptr);
    selector->SetResult(SelectorMethod::ListPorts, S_FALSE);
    EXPECT_EQ(selector->ListPorts(&count, &block), S_FALSE);
    EXPECT_EQ(Take(count, block).size(), 2u);
    selector->SetResult(SelectorMethod::ListPorts, S_OK);
    EXPECT_EQ(selector->ListPorts(&count, &block), S_OK);
    CoTaskMemFree(block);
    EXPECT_EQ(selector->Calls(SelectorMethod::ListPorts), 3);
    EXPECT_EQ(selector->TotalCalls(), 3);

    // Port objects answer GetPortInterface.
    auto object = host::make_com<RecordingSink>();
    EXPECT_EQ(selector->SetPortObject(101, object->identity()), S_OK);
    void* found = nullptr;
    EXPECT_EQ(selector->GetPortInterface(101, IID_IIntPortSelectorEvents, &found), S_OK);
    ASSERT_NE(found, nullptr);
    static_cast<IUnknown*>(found)->Release();
    EXPECT_EQ(selector->GetPortInterface(102, IID_IIntPortSelectorEvents, &found), E_NOINTERFACE);
    EXPECT_EQ(selector->SetPortObject(101, nullptr), S_OK);
    EXPECT_EQ(object->ref_count(), 1u);
}

TEST(SimulatedPortSelector, RegistryFormRoundTrips) {
    auto config = tester::DefaultPortSelectorConfig(5);
    config.mapping = {{101, 105}, {102, 104}};
    config.mode = PiPortModeOffline;
    config.savedInfoWidth = 12;
    config.savedInfo[SavedInfoUserData] = {{W("colour"), W("blue")}};
    config.ports[1].slave = 2;
    config.ports[1].slaveAddress = 0xC0000201u;
    auto original = host::make_com<PortSelector>(config);
    const host::wstring path = W("SOFTWARE\\KesTests\\PortSelector");
    ASSERT_EQ(original->SaveToRegistry(HKEY_LOCAL_MACHINE, path), S_OK);
    // A second save replaces the first whole.
    original->RemovePort(105);
    ASSERT_EQ(original->SaveToRegistry(HKEY_LOCAL_MACHINE, path), S_OK);

    auto loaded = host::make_com<PortSelector>();
    ASSERT_EQ(loaded->LoadFromRegistry(HKEY_LOCAL_MACHINE, path), S_OK);
    tester::PortSelectorConfig back = loaded->Configuration();
    tester::PortSelectorConfig expected = original->Configuration();
    ASSERT_EQ(back.ports.size(), 4u);
    for (std::size_t i = 0; i < back.ports.size(); ++i) {
        EXPECT_EQ(back.ports[i].handle, expected.ports[i].handle);
        EXPECT_EQ(back.ports[i].label, expected.ports[i].label);
        EXPECT_EQ(back.ports[i].name, expected.ports[i].name);
        EXPECT_EQ(back.ports[i].group, expected.ports[i].group);
        EXPECT_EQ(back.ports[i].dummy, expected.ports[i].dummy);
        EXPECT_EQ(back.ports[i].slaveAddress, expected.ports[i].slaveAddress);
    }
    EXPECT_EQ(back.mapping, expected.mapping);
    EXPECT_EQ(back.mode, PiPortModeOffline);
    EXPECT_EQ(back.savedInfoWidth, 12);
    EXPECT_EQ(back.savedPorts, expected.savedPorts);
    EXPECT_EQ(back.savedInfo[SavedInfoUserData], expected.savedInfo[SavedInfoUserData]);
    EXPECT_EQ(back.savedInfo[SavedInfoPortLabel].size(), 5u);

    EXPECT_EQ(loaded->LoadFromRegistry(HKEY_LOCAL_MACHINE, W("SOFTWARE\\KesTests\\Nothing")),
              tester::TESTER_E_NOT_FOUND);
    // A port with a duplicate handle is refused and the old configuration stays.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (path + W("\\Ports\\Port9999")).c_str(), 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              0);
    DWORD handle = 101;
    RegSetValueExW(key, OLESTR("Handle"), 0, REG_DWORD, reinterpret_cast<BYTE*>(&handle), 4);
    RegCloseKey(key);
    EXPECT_EQ(loaded->LoadFromRegistry(HKEY_LOCAL_MACHINE, path), E_INVALIDARG);
    EXPECT_EQ(loaded->Configuration().ports.size(), 4u);
}

}  // namespace
