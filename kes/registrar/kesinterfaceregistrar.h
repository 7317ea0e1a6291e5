// CKesInterfaceRegistrar: the COM interfaces that the tester's applications
// publish, per application and per port type.
//
// Registry layout below HKEY_LOCAL_MACHINE\SOFTWARE\Telmora\Brontide\Applications:
//
//   <application>\Interfaces\<interface>                      IID, CLSID
//   <application>\Ports\<port symbol>\Interfaces\<interface>  IID, CLSID
//
// "IID" and "CLSID" are REG_SZ values holding braced upper-case GUID text
// ("{0123ABCD-...}", 38 characters). The port symbol is the port type's
// symbol in theDovPortTypeTable ("DOV_PORT_GIGABIT_ETHERNET"); the application
// is a row of theDovSessionTypeTable when the question is asked by session
// type.
//
// A publisher opens the application with KesAccessCreate, registers and
// closes; one that withdraws its interfaces opens with KesAccessReadWrite
// (interface keys are deleted as subkeys, which needs that mode); readers open
// with KesAccessReadOnly:
//
//     CKesInterfaceRegistrar registrar;
//     registrar.Open(OLESTR("Workbench\\Ports\\DOV_PORT_ATM_OC3"), KesAccessCreate);
//     registrar.RegisterMap(theMap);   // rows up to the one with a null iid
//     registrar.Close();
//
// Open, Register, Lookup and the base's operations report failures as
// CKesRegistrar does (raised codes and texts, source
// "kes/registrar/kesregistrar"); a missing interface key is KES_E_NOT_FOUND
// and not raised. EnumerateInterfaces answers KES_E_NO_MORE_ITEMS past the
// last name or with no key open. IsPortInterfaceSupported works on a
// registrar of its own, so it may be called on any object, open or not; it
// throws CKesException(KES_E_VALUE_ACCESS) for a port type that has no
// symbol.
//
// Threads: as CKesRegistrar (one thread at a time per object).
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/registrar/kesenumerator.h>
#include <kes/registrar/kesregistrar.h>
#include <tester/dovtypes.h>

#include <list>
#include <string>

// One row of an interface map. A map is an array of rows owned by the caller;
// the row whose `iid` is null ends it.
struct _TKesCommapEntry {
    const unsigned short* name;  // terminated interface name
    const GUID* iid;
    const GUID* clsid;
};

// The test applications, indexed by EDovSessionType (0 to 8); row 8 is
// "Unknown". They are the application key names of the layout above.
extern KES_API const unsigned short* const theDovSessionTypeTable[9];

class KES_API CKesInterfaceRegistrar : public CKesRegistrar {
  public:
    // The default application's name: row DovSessionWorkbench (6) of
    // theDovSessionTypeTable. For clients; the library does not read it.
    static const host::wstring DefaultAppName;

    // As the default CKesRegistrar: the root is the application tree.
    CKesInterfaceRegistrar();
    virtual ~CKesInterfaceRegistrar();

    // Opens "<application>\Interfaces" in `mode`, as OpenKey does (same
    // results). `application` may itself be a path such as
    // "Workbench\Ports\DOV_PORT_ATM_OC3". The narrow form takes the host's
    // code page.
    LONG Open(const host::wstring& application, EKesAccessMode mode);
    LONG Open(const std::string& application, EKesAccessMode mode);

    // CloseKey.
    LONG Close();

    // Creates (or updates) the key `name` below the open key and writes its
    // IID and CLSID texts. 0, or the first failure: KES_E_INVALID_STATE with
    // no key open, KES_E_NOT_FOUND for a name that is empty or holds a
    // backslash or cannot be created, KES_E_VALUE_ACCESS for a refused write
    // (the key then stays, incomplete).
    LONG Register(const host::wstring& name, const GUID& iid, const GUID& clsid);

    // Deletes the key `name` below the open key. 0, or KES_E_NOT_FOUND.
    LONG Unregister(const host::wstring& name);

    // Register or Unregister for each row up to the end row, going on past
    // any that fails; rows without a name (or, for RegisterMap, without a
    // clsid) are skipped. A null map fails the assertion "entry != 0". Always 0.
    LONG RegisterMap(const _TKesCommapEntry* entry);
    LONG UnregisterMap(const _TKesCommapEntry* entry);

    // Reads the identifiers of the interface `name` below the open key. 0;
    // KES_E_NOT_FOUND (not raised) for a name that has no key;
    // KES_E_VALUE_ACCESS (raised) when "IID" or "CLSID" cannot be read; the
    // failures of Register with no key open. `iid` and `clsid` change only
    // on success; a stored text that is not GUID text gives GUID_NULL.
    LONG Lookup(const host::wstring& name, GUID& iid, GUID& clsid);
    LONG Lookup(const std::string& name, GUID& iid, GUID& clsid);

    // Steps `index` by one and gives the name of the interface key at that
    // position. Start with `index` -1. 0, or KES_E_NO_MORE_ITEMS (the end, a
    // name over 127 characters, no key open) with `name` unchanged.
    LONG EnumerateInterfaces(LONG& index, host::wstring& name);
    LONG EnumerateInterfaces(LONG& index, std::string& name);

    // Appends every interface name below the open key to `names`, which is not
    // emptied first. Always 0.
    LONG ListInterfaceNames(std::list<host::wstring>& names);
    LONG ListInterfaceNames(std::list<std::string>& names);

    // 1 when ports of `portType` support the interface named `name` (exactly,
    // letter case included) in sessions of `sessionType`, else 0 (also for a
    // missing application, port or Interfaces key, and for a session type
    // outside 0 to 8). Throws CKesException(KES_E_VALUE_ACCESS) for a port
    // type without a symbol.
    int IsPortInterfaceSupported(EDovPortType portType, EDovSessionType sessionType,
                                 host::wstring name);
    // As above, looking for an interface whose IID is `iid`; records that
    // cannot be read are skipped (their read failure is raised).
    int IsPortInterfaceSupported(EDovPortType portType, EDovSessionType sessionType,
                                 const GUID& iid);

  private:
    // Opens the per-port Interfaces key for the question; false when there is
    // none. Throws for a port type without a symbol.
    static bool OpenPortInterfaces(CKesInterfaceRegistrar& theRegistrar, EDovPortType thePortType,
                                   EDovSessionType theSessionType);
};
