#include <kes/registrar/kesinterfaceregistrar.h>

#include <host/com.h>
#include <host/guidtext.h>
#include <host/registry.h>
#include <host/taskalloc.h>
#include <kes/error/kescodes.h>
#include <kes/error/keserror.h>
#include <kes/error/kestextconversion.h>

#include <cstddef>
#include <cstdint>

namespace {

// A UTF-16 literal held as WCHAR units, built at compile time, so that the
// session-type table is constant data (see kesenumerator.cpp).
template <std::size_t N>
struct CKesNameText {
    WCHAR text[N];
    constexpr explicit CKesNameText(const char16_t (&theSource)[N]) : text() {
        for (std::size_t i = 0; i < N; ++i)
            text[i] = theSource[i];
    }
};

constexpr CKesNameText theTrafficName(u"TrafficGenerator");
constexpr CKesNameText theRoutingName(u"RoutingEmulator");
constexpr CKesNameText theBitErrorName(u"BitErrorTester");
constexpr CKesNameText theCaptureName(u"PacketCapture");
constexpr CKesNameText theLatencyName(u"LatencyAnalyzer");
constexpr CKesNameText theFailoverName(u"FailoverTester");
constexpr CKesNameText theWorkbenchName(u"Workbench");
constexpr CKesNameText theScriptName(u"ScriptRunner");
constexpr CKesNameText theUnknownName(u"Unknown");

const WCHAR* InterfacesKey() {
    return OLESTR("Interfaces");
}
const WCHAR* IidValue() {
    return OLESTR("IID");
}
const WCHAR* ClsidValue() {
    return OLESTR("CLSID");
}
const WCHAR* Separator() {
    return OLESTR("\\");
}
const WCHAR* PortsInfix() {
    return OLESTR("\\Ports\\");
}

// The library's symbol tables, built at load and destroyed at unload. The
// module-type table has no user inside the library; it is kept for symmetry
// with the port types.
CKesEnumeratorEDovPortType thePortTypes(theDovPortTypeTable);
CKesEnumeratorEDovModuleType theModuleTypes(theDovModuleTypeTable);

host::wstring Widen(const std::string& theText) {
    return KesAnsiToWideString(theText.data(), theText.size());
}

std::string Narrow(const host::wstring& theText) {
    return KesWideToAnsiString(theText.data(), theText.size());
}

// An interface record is one key level: a name that is empty (the Interfaces
// key itself), holds a backslash (a deeper key) or a NUL (a shorter name)
// would put the record somewhere else.
bool IsInterfaceName(const host::wstring& theName) {
    if (theName.empty())
        return false;
    for (WCHAR unit : theName) {
        if (unit == 0 || unit == '\\')
            return false;
    }
    return true;
}

// Writes `theGuid` as GUID text under `theValue`.
LONG SetGuidValue(const CKesRegistrar& theRegistrar, const WCHAR* theValue, const GUID& theGuid) {
    LPOLESTR text = nullptr;
    HRESULT hr = StringFromIID(theGuid, &text);
    if (FAILED(hr))
        return hr;
    LONG result = theRegistrar.SetValue(theValue, host::wstring(text));
    CoTaskMemFree(text);
    return result;
}

// GUID text to a GUID; text that does not parse gives GUID_NULL.
GUID ParseGuid(const host::wstring& theText) {
    GUID guid = GUID_NULL;
    if (FAILED(IIDFromString(theText.c_str(), &guid)))
        guid = GUID_NULL;
    return guid;
}

}  // namespace

const unsigned short* const theDovSessionTypeTable[9] = {
    theTrafficName.text,   theRoutingName.text, theBitErrorName.text,
    theCaptureName.text,   theLatencyName.text, theFailoverName.text,
    theWorkbenchName.text, theScriptName.text,  theUnknownName.text,
};

const host::wstring CKesInterfaceRegistrar::DefaultAppName(theWorkbenchName.text);

CKesInterfaceRegistrar::CKesInterfaceRegistrar() = default;

CKesInterfaceRegistrar::~CKesInterfaceRegistrar() = default;

LONG CKesInterfaceRegistrar::Open(const host::wstring& application, EKesAccessMode mode) {
    return OpenKey(application + Separator() + InterfacesKey(), mode);
}

LONG CKesInterfaceRegistrar::Open(const std::string& application, EKesAccessMode mode) {
    return Open(Widen(application), mode);
}

LONG CKesInterfaceRegistrar::Close() {
    return CloseKey();
}

LONG CKesInterfaceRegistrar::Register(const host::wstring& name, const GUID& iid,
                                      const GUID& clsid) {
    // A registrar of its own, rooted at the open key; it closes its keys on
    // every path out.
    CKesRegistrar record(m_subkey);
    if (!IsInterfaceName(name) && m_subkey != nullptr)
        return KES_E_NOT_FOUND;
    LONG result = record.OpenKey(name, KesAccessCreate);
    if (result != 0)
        return result;
    result = SetGuidValue(record, IidValue(), iid);
    if (result != 0)
        return result;
    return SetGuidValue(record, ClsidValue(), clsid);
}

LONG CKesInterfaceRegistrar::Unregister(const host::wstring& name) {
    return DeleteSubkey(name);
}

LONG CKesInterfaceRegistrar::RegisterMap(const _TKesCommapEntry* entry) {
    KES_ASSERT(entry != 0);
    if (entry == nullptr)
        return 0;
    for (; entry->iid != nullptr; ++entry) {
        if (entry->name == nullptr || entry->clsid == nullptr)
            continue;
        Register(host::wstring(entry->name), *entry->iid, *entry->clsid);
    }
    return 0;
}

LONG CKesInterfaceRegistrar::UnregisterMap(const _TKesCommapEntry* entry) {
    KES_ASSERT(entry != 0);
    if (entry == nullptr)
        return 0;
    for (; entry->iid != nullptr; ++entry) {
        if (entry->name == nullptr)
            continue;
        Unregister(host::wstring(entry->name));
    }
    return 0;
}

LONG CKesInterfaceRegistrar::Lookup(const host::wstring& name, GUID& iid, GUID& clsid) {
    CKesRegistrar record(m_subkey);
    if (!IsInterfaceName(name) && m_subkey != nullptr)
        return KES_E_NOT_FOUND;
    LONG result = record.OpenKey(name, KesAccessReadOnly);
    if (result != 0)
        return result;
    host::wstring iidText;
    result = record.GetValue(IidValue(), iidText, false);
    if (result != 0)
        return result;
    host::wstring clsidText;
    result = record.GetValue(ClsidValue(), clsidText, false);
    if (result != 0)
        return result;
    iid = ParseGuid(iidText);
    clsid = ParseGuid(clsidText);
    return 0;
}

LONG CKesInterfaceRegistrar::Lookup(const std::string& name, GUID& iid, GUID& clsid) {
    return Lookup(Widen(name), iid, clsid);
}

LONG CKesInterfaceRegistrar::EnumerateInterfaces(LONG& index, host::wstring& name) {
    if (index == INT32_MAX)
        return KES_E_NO_MORE_ITEMS;  // no position beyond it
    ++index;
    if (index < 0)
        return KES_E_NO_MORE_ITEMS;
    WCHAR found[NAME_BUFFER_UNITS];
    DWORD units = NAME_BUFFER_UNITS;
    if (RegEnumKeyExW(m_subkey, static_cast<DWORD>(index), found, &units, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
        return KES_E_NO_MORE_ITEMS;
    }
    name.assign(found, units);
    return 0;
}

LONG CKesInterfaceRegistrar::EnumerateInterfaces(LONG& index, std::string& name) {
    host::wstring wide;
    LONG result = EnumerateInterfaces(index, wide);
    if (result == 0)
        name = Narrow(wide);
    return result;
}

LONG CKesInterfaceRegistrar::ListInterfaceNames(std::list<host::wstring>& names) {
    LONG index = -1;
    host::wstring name;
    while (EnumerateInterfaces(index, name) == 0)
        names.push_back(name);
    return 0;
}

LONG CKesInterfaceRegistrar::ListInterfaceNames(std::list<std::string>& names) {
    LONG index = -1;
    host::wstring name;
    while (EnumerateInterfaces(index, name) == 0)
        names.push_back(Narrow(name));
    return 0;
}

bool CKesInterfaceRegistrar::OpenPortInterfaces(CKesInterfaceRegistrar& theRegistrar,
                                                EDovPortType thePortType,
                                                EDovSessionType theSessionType) {
    const host::wstring symbol = thePortTypes.ToSymbol(thePortType);  // throws when unknown
    // The session type indexes the table directly; a value outside it names
    // no application.
    const auto session = static_cast<std::int32_t>(theSessionType);
    if (session < 0 || session > DovSessionUnknown)
        return false;
    host::wstring application(theDovSessionTypeTable[session]);
    if (theRegistrar.Open(application + PortsInfix() + symbol, KesAccessReadOnly) != 0) {
        theRegistrar.Close();
        return false;
    }
    return true;
}

int CKesInterfaceRegistrar::IsPortInterfaceSupported(EDovPortType portType,
                                                     EDovSessionType sessionType,
                                                     host::wstring name) {
    CKesInterfaceRegistrar registrar;
    if (!OpenPortInterfaces(registrar, portType, sessionType))
        return 0;
    LONG index = -1;
    host::wstring found;
    while (registrar.EnumerateInterfaces(index, found) == 0) {
        if (found == name)
            return 1;
    }
    return 0;
}

int CKesInterfaceRegistrar::IsPortInterfaceSupported(EDovPortType portType,
                                                     EDovSessionType sessionType, const GUID& iid) {
    CKesInterfaceRegistrar registrar;
    if (!OpenPortInterfaces(registrar, portType, sessionType))
        return 0;
    LONG index = -1;
    host::wstring found;
    while (registrar.EnumerateInterfaces(index, found) == 0) {
        GUID foundIid = GUID_NULL;
        GUID foundClsid = GUID_NULL;
        if (registrar.Lookup(found, foundIid, foundClsid) != 0)
            continue;
        if (IsEqualGUID(foundIid, iid))
            return 1;
    }
    return 0;
}
