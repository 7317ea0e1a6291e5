// CKesInterfaceRegistrar: records of published interfaces, per application
// and per port type.
#include <kes/registrar/kesinterfaceregistrar.h>

#include <host/com.h>
#include <host/guidtext.h>

#include "support.h"

#include <list>
#include <string>

namespace regtest {
namespace {

DEFINE_GUID(IID_IPortStats, 0x1A2B3C4D, 0x5E6F, 0x7081, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8,
            0x09);
DEFINE_GUID(CLSID_PortStats, 0xA1B2C3D4, 0xE5F6, 0x0718, 0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E, 0x8F,
            0x90);
DEFINE_GUID(IID_ICapture, 0x0000ABCD, 0x0001, 0x0002, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
            0x0A);
DEFINE_GUID(CLSID_Capture, 0xFFFF0000, 0xEEEE, 0xDDDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66,
            0x55);

const char kApps[] = "SOFTWARE\\Telmora\\Brontide\\Applications\\";

std::string GuidText(const GUID& guid) {
    WCHAR text[39];
    StringFromGUID2(guid, text, 39);
    return narrow(host::wstring(text));
}

class Interfaces : public RegistrarTest {
  protected:
    // Registers `name` below `application` (a path to the Interfaces key's parent).
    void Publish(const host::wstring& application, const host::wstring& name, const GUID& iid,
                 const GUID& clsid) {
        CKesInterfaceRegistrar registrar;
        ASSERT_EQ(registrar.Open(application, KesAccessCreate), 0);
        ASSERT_EQ(registrar.Register(name, iid, clsid), 0);
    }
    std::string ReadText(const std::string& path, const char* value) {
        DWORD type = 0;
        std::vector<BYTE> bytes = get(create(kApps + path), w(value), &type);
        EXPECT_EQ(type, REG_SZ);
        std::string text;
        for (std::size_t i = 0; i + 3 < bytes.size(); i += 2)  // without the terminator
            text.push_back(static_cast<char>(bytes[i]));
        return text;
    }
};

TEST_F(Interfaces, RegisterWritesBracedGuidTextsThatLookupReadsBack) {
    Publish(w("Workbench"), w("IPortStats"), IID_IPortStats, CLSID_PortStats);
    const std::string iidText = ReadText("Workbench\\Interfaces\\IPortStats", "IID");
    EXPECT_EQ(iidText, "{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}");
    EXPECT_EQ(ReadText("Workbench\\Interfaces\\IPortStats", "CLSID"),
              "{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}");

    CKesInterfaceRegistrar reader;
    ASSERT_EQ(reader.Open(std::string("Workbench"), KesAccessReadOnly), 0);
    GUID iid = GUID_NULL;
    GUID clsid = GUID_NULL;
    EXPECT_EQ(reader.Lookup(w("iportstats"), iid, clsid), 0);  // key names ignore case
    EXPECT_EQ(iid, IID_IPortStats);
    EXPECT_EQ(clsid, CLSID_PortStats);

    // Registering again updates the record.
    Publish(w("Workbench"), w("IPortStats"), IID_ICapture, CLSID_Capture);
    EXPECT_EQ(reader.Lookup(std::string("IPortStats"), iid, clsid), 0);
    EXPECT_EQ(iid, IID_ICapture);
    EXPECT_EQ(clsid, CLSID_Capture);
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(Interfaces, LookupFailuresLeaveTheGuidsAlone) {
    Publish(w("Workbench"), w("IPortStats"), IID_IPortStats, CLSID_PortStats);
    HKEY partial = CreateApp("Workbench\\Interfaces\\IPartial");
    ASSERT_EQ(SetText(partial, w("IID"), w(GuidText(IID_ICapture))), ERROR_SUCCESS);
    HKEY garbled = CreateApp("Workbench\\Interfaces\\IGarbled");
    ASSERT_EQ(SetText(garbled, w("IID"), w("not a guid")), ERROR_SUCCESS);
    ASSERT_EQ(SetText(garbled, w("CLSID"), w(GuidText(CLSID_Capture))), ERROR_SUCCESS);

    CKesInterfaceRegistrar reader;
    ASSERT_EQ(reader.Open(w("Workbench"), KesAccessReadOnly), 0);
    GUID iid = IID_IPortStats;
    GUID clsid = CLSID_PortStats;
    EXPECT_EQ(reader.Lookup(w("IMissing"), iid, clsid), KES_E_NOT_FOUND);
    EXPECT_EQ(TakeRaised(), Raises{});
    EXPECT_EQ(reader.Lookup(w("IPartial"), iid, clsid), KES_E_VALUE_ACCESS);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for CLSID"}}));
    EXPECT_EQ(iid, IID_IPortStats);
    EXPECT_EQ(clsid, CLSID_PortStats);
    // A name that is not one key level is refused, and Register writes nothing.
    CKesInterfaceRegistrar publisher;
    ASSERT_EQ(publisher.Open(w("Workbench"), KesAccessCreate), 0);
    for (const char* bad : {"", "A\\B"}) {
        EXPECT_EQ(reader.Lookup(w(bad), iid, clsid), KES_E_NOT_FOUND) << bad;
        EXPECT_EQ(publisher.Register(w(bad), IID_IPortStats, CLSID_PortStats), KES_E_NOT_FOUND);
    }
    DWORD type = 0;
    EXPECT_TRUE(get(CreateApp("Workbench\\Interfaces"), w("IID"), &type).empty());
    EXPECT_FALSE(AppExists("Workbench\\Interfaces\\A"));

    // Text that is not GUID text reads as the null GUID.
    EXPECT_EQ(reader.Lookup(w("IGarbled"), iid, clsid), 0);
    EXPECT_EQ(iid, GUID_NULL);
    EXPECT_EQ(clsid, CLSID_Capture);
}

TEST_F(Interfaces, OperationsOnAClosedRegistrarFailAsDocumented) {
    CKesInterfaceRegistrar closed;
    GUID iid = GUID_NULL;
    GUID clsid = GUID_NULL;
    EXPECT_EQ(closed.Register(w("IPortStats"), IID_IPortStats, CLSID_PortStats),
              KES_E_INVALID_STATE);
    EXPECT_EQ(closed.Lookup(w("IPortStats"), iid, clsid), KES_E_INVALID_STATE);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_INVALID_STATE, "registry key not found"},
                                    {KES_E_INVALID_STATE, "registry key not found"}}));
    TakeConsole();
    EXPECT_EQ(closed.Unregister(w("IPortStats")), KES_E_NOT_FOUND);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_NOT_FOUND, "6"}}));
    EXPECT_EQ(TakeAssertions(),
              (Assertions{"kes/registrar/kesregistrar: m_accessMode == KesAccessReadWrite",
                          "kes/registrar/kesregistrar: m_subkey != 0"}));
    LONG index = -1;
    host::wstring name = w("kept");
    EXPECT_EQ(closed.EnumerateInterfaces(index, name), KES_E_NO_MORE_ITEMS);
    EXPECT_EQ(name, w("kept"));
    std::list<host::wstring> names;
    EXPECT_EQ(closed.ListInterfaceNames(names), 0);
    EXPECT_TRUE(names.empty());
}

TEST_F(Interfaces, EnumerationStepsTheIndexAndListsAppend) {
    Publish(w("Workbench"), w("IPortStats"), IID_IPortStats, CLSID_PortStats);
    Publish(w("Workbench"), w("ICapture"), IID_ICapture, CLSID_Capture);
    CKesInterfaceRegistrar reader;
    ASSERT_EQ(reader.Open(w("Workbench"), KesAccessReadOnly), 0);

    LONG index = -1;
    host::wstring name;
    EXPECT_EQ(reader.EnumerateInterfaces(index, name), 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(name, w("ICapture"));
    std::string narrowName;
    EXPECT_EQ(reader.EnumerateInterfaces(index, narrowName), 0);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(narrowName, "IPortStats");
    EXPECT_EQ(reader.EnumerateInterfaces(index, name), KES_E_NO_MORE_ITEMS);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(name, w("ICapture"));

    std::list<std::string> names = {"kept"};
    EXPECT_EQ(reader.ListInterfaceNames(names), 0);
    EXPECT_EQ(names, (std::list<std::string>{"kept", "ICapture", "IPortStats"}));
    std::list<host::wstring> wide = {w("kept")};
    EXPECT_EQ(reader.ListInterfaceNames(wide), 0);
    EXPECT_EQ(wide, (std::list<host::wstring>{w("kept"), w("ICapture"), w("IPortStats")}));
}

TEST_F(Interfaces, MapsGoOnPastAFailingRowAndStopAtTheNullIid) {
    const host::wstring tooLong(256, 'L');
    const _TKesCommapEntry map[] = {
        {OLESTR("IPortStats"), &IID_IPortStats, &CLSID_PortStats},
        {tooLong.c_str(), &IID_ICapture, &CLSID_Capture},  // refused by the store
        {nullptr, &IID_ICapture, &CLSID_Capture},          // no name: skipped
        {OLESTR("ICapture"), &IID_ICapture, &CLSID_Capture},
        {OLESTR("IAfterTheEnd"), nullptr, &CLSID_Capture},
        {OLESTR("INeverSeen"), &IID_ICapture, &CLSID_Capture},
    };
    CKesInterfaceRegistrar publisher;
    ASSERT_EQ(publisher.Open(w("Workbench"), KesAccessCreate), 0);
    EXPECT_EQ(publisher.RegisterMap(map), 0);
    std::list<std::string> names;
    publisher.ListInterfaceNames(names);
    EXPECT_EQ(names, (std::list<std::string>{"ICapture", "IPortStats"}));
    EXPECT_EQ(publisher.Close(), 0);

    const _TKesCommapEntry empty[] = {{OLESTR("INothing"), nullptr, nullptr}};
    ASSERT_EQ(publisher.Open(w("Other"), KesAccessCreate), 0);
    EXPECT_EQ(publisher.RegisterMap(empty), 0);
    names.clear();
    publisher.ListInterfaceNames(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(publisher.Close(), 0);

    // Withdrawing needs read-write; a missing row does not stop the rest.
    const _TKesCommapEntry withdraw[] = {
        {OLESTR("IMissing"), &IID_ICapture, &CLSID_Capture},
        {OLESTR("IPortStats"), &IID_IPortStats, &CLSID_PortStats},
        {nullptr, nullptr, nullptr},
    };
    ASSERT_EQ(publisher.Open(w("Workbench"), KesAccessReadWrite), 0);
    EXPECT_EQ(publisher.UnregisterMap(withdraw), 0);
    names.clear();
    publisher.ListInterfaceNames(names);
    EXPECT_EQ(names, std::list<std::string>{"ICapture"});
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_NOT_FOUND, "2"}}));

    TakeConsole();
    EXPECT_EQ(publisher.RegisterMap(nullptr), 0);
    EXPECT_EQ(publisher.UnregisterMap(nullptr), 0);
    EXPECT_EQ(TakeAssertions(), Assertions{"kes/registrar/kesinterfaceregistrar: entry != 0"});
}

TEST_F(Interfaces, PortSupportByNameIsExactAndNeedsTheWholePath) {
    const host::wstring app(theDovSessionTypeTable[DovSessionCapture]);
    Publish(app + w("\\Ports\\DOV_PORT_ATM_OC3"), w("IPortStats"), IID_IPortStats, CLSID_PortStats);
    CKesInterfaceRegistrar any;  // never opened: the question uses a registrar of its own
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, DovSessionCapture, w("IPortStats")), 1);
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, DovSessionCapture, w("iportstats")), 0);
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, DovSessionCapture, w("ICapture")), 0);
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc12, DovSessionCapture, w("IPortStats")), 0);
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, DovSessionTraffic, w("IPortStats")), 0);
    for (int outside : {-1, 9, 1000}) {
        EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, static_cast<EDovSessionType>(outside),
                                               w("IPortStats")),
                  0)
            << outside;
    }
    // An application without a Ports key.
    CreateApp(narrow(host::wstring(theDovSessionTypeTable[DovSessionLatency])) + "\\Interfaces");
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, DovSessionLatency, w("IPortStats")), 0);

    // An open registrar keeps its own key.
    ASSERT_EQ(any.Open(app, KesAccessCreate), 0);
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortAtmOc3, DovSessionCapture, w("IPortStats")), 1);
    std::list<std::string> names;
    any.ListInterfaceNames(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(Interfaces, PortSupportByIidSkipsUnreadableRecords) {
    const host::wstring app(theDovSessionTypeTable[DovSessionWorkbench]);
    const host::wstring port = app + w("\\Ports\\DOV_PORT_GIGABIT_ETHERNET");
    // "IBroken" sorts first and has no IID; the search goes on past it.
    CreateApp(narrow(port) + "\\Interfaces\\IBroken");
    Publish(port, w("ICapture"), IID_ICapture, CLSID_Capture);
    CKesInterfaceRegistrar any;
    EXPECT_EQ(
        any.IsPortInterfaceSupported(DovPortGigabitEthernet, DovSessionWorkbench, IID_ICapture), 1);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for IID"}}));
    // The CLSID is not an IID.
    EXPECT_EQ(
        any.IsPortInterfaceSupported(DovPortGigabitEthernet, DovSessionWorkbench, CLSID_Capture),
        0);
    EXPECT_EQ(any.IsPortInterfaceSupported(DovPortGigabitEthernetCopper, DovSessionWorkbench,
                                           IID_ICapture),
              0);
    TakeRaised();
}

TEST_F(Interfaces, APortTypeWithoutASymbolThrowsAndReportsNothing) {
    CKesInterfaceRegistrar any;
    const auto missing = static_cast<EDovPortType>(28);
    try {
        any.IsPortInterfaceSupported(missing, DovSessionWorkbench, w("IPortStats"));
        ADD_FAILURE() << "no exception";
    } catch (const CKesException& caught) {
        EXPECT_EQ(caught.ErrorCode(), KES_E_VALUE_ACCESS);
    }
    EXPECT_THROW(any.IsPortInterfaceSupported(missing, DovSessionWorkbench, IID_ICapture),
                 CKesException);
    EXPECT_EQ(TakeRaised(), Raises{});
}

}  // namespace
}  // namespace regtest
