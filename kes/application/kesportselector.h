// CKesPortSelector: the client-side proxy of the tester server's port
// selector (IIntPortSelector).
//
// Publication. The host application hands the server's port selector to the
// library once with `Globalize` (the library then holds one reference on it)
// and takes it back with `Unglobalize` at shutdown. Any component of the
// process can then create a proxy without being given the pointer: the
// proxy's first operation binds it to the published pointer (`Localize`,
// which adds a reference that the proxy gives back in its destructor). A
// bound proxy keeps working after `Unglobalize` through its own reference; a
// new proxy cannot bind then. With nothing published every operation fails
// its assertions ("g_pPortSelector != 0", "SUCCEEDED(hr)",
// "m_pPortSelector != 0"), calls nothing and returns E_NOINTERFACE (false for
// the bool queries). Binding is tried again by each operation until it works.
//
// Operations. The forwarding operations clear their outputs as documented
// below, call the server method of the same name and return its code
// unchanged; array outputs are the server's task-memory blocks and become
// the caller's (CoTaskMemFree). The converting operations turn the server's
// answers into std::list entries, appending (never clearing the list first),
// and free every server block and temporary on every path. A null output
// pointer that the proxy would have to clear gives E_POINTER without any
// server call.
//
// Subscriptions. `Advise`/`Unadvise` subscribe one IIntPortSelectorEvents
// sink, `AdviseOnGuardEvents`/`UnadviseOnGuardEvents` one
// IIntPortSelectorGuardEvents sink. A second Advise replaces the stored
// cookie without ending the first subscription. A proxy must be unsubscribed
// before it is destroyed: the destructor only reports a live subscription
// ("m_ClientCookie == 0", "m_ClientCookieGuardEvents == 0").
//
// Threads. No lock: one proxy is used by one thread at a time; separate
// proxies may run on separate threads and share the published pointer, which
// the library hands out unmarshalled (the server must be callable from every
// thread). `Globalize` and `Unglobalize` must run while no other thread
// localizes or uses a proxy.
#pragma once

#include <host/stream.h>
#include <host/types.h>
#include <kes/export.h>
#include <tester/interfaces.h>

#include <list>
#include <ostream>
#include <string>

class KES_API CKesPortSelector {
  public:
    // Unbound and unsubscribed; does not bind.
    CKesPortSelector();
    // Reports a live subscription, then gives back the bound reference.
    ~CKesPortSelector();

    // Copies would share one server reference and one pair of cookies.
    CKesPortSelector(const CKesPortSelector&) = delete;
    CKesPortSelector& operator=(const CKesPortSelector&) = delete;

    // ---- Publication (process-wide) ----

    // Publishes `pi` with one reference of its own. Always S_OK. A null `pi`
    // reports "pi != 0" and changes nothing. Publishing while a pointer is
    // published reports "g_pPortSelector == 0"; the new pointer replaces the
    // old one, whose reference is given back.
    static LONG Globalize(IIntPortSelector* pi);
    // Gives back the published reference and publishes nothing. Always S_OK.
    static LONG Unglobalize();
    // The published pointer in `*ppi` with a reference for the caller, S_OK;
    // with nothing published, reports "g_pPortSelector != 0", sets `*ppi` to
    // null and returns E_NOINTERFACE. A null `ppi` gives E_POINTER.
    static LONG Localize(IIntPortSelector** ppi);
    // A pointer is published.
    static bool IsPortSelectorValid();

    // ---- Forwarding ----

    // Count and pointer cleared first.
    LONG ListPorts(LONG* pCount, LONG** ppPorts);
    LONG ListSynchronizedPorts(LONG* pCount, LONG** ppPorts);
    LONG ListPortsInGroup(LONG group, LONG* pCount, LONG** ppPorts);
    LONG ListPortsInModule(LONG module, LONG* pCount, LONG** ppPorts);
    LONG ListPortsOnSameCpu(LONG port, LONG* pCount, LONG** ppPorts);
    // The interface pointer cleared first.
    LONG GetPortInterface(LONG port, const GUID& theInterface, void** ppInterface);
    // The number cleared first.
    LONG GetPortNumber(LONG port, LONG* pNumber);
    // Both outputs cleared first: the port's module handle and its type.
    LONG GetPortDetails(LONG port, LONG* pModule, LONG* pPortType);
    // The label pointer cleared first (not the length). The label bytes are
    // a terminated task-memory block (CoTaskMemFree).
    LONG GetPortLabelFromHandle(LONG handle, LONG* pLength, unsigned char** ppLabel);
    // Passed through untouched from here on.
    LONG GetPortMode(EPiPortMode* pMode);
    // The name is a terminated task-memory string (CoTaskMemFree).
    LONG GetPortName(LONG port, LONG style, unsigned short** ppName);
    // The label is a BSTR (SysFreeString).
    LONG GetPortLabelBstrFromHandle(LONG handle, BSTR* pLabel);
    // Reports a null output ("pIpAddress != 0", "pPortNumber != 0",
    // "pPortIndex != 0") before binding, then forwards as given.
    LONG GetSlaveAddress(LONG slave, LONG port, ULONG* pIpAddress, ULONG* pPortNumber,
                         ULONG* pPortIndex);
    LONG ReadyToStart();
    LONG SetConfigFileReadOnlyMode(int mode);

    // ---- Queries: false on any failure ----

    bool IsValidPort(LONG port);
    bool IsDummyPort(LONG port);
    bool IsValidGroup(LONG group);

    // ---- Converting ----

    // Appends the ports of `group` to `ports`, in the server's order. A
    // listing failure raises KES_E_GROUP_PORTS_UNAVAILABLE; a port already
    // in `ports` (including one appended just before) raises
    // KES_E_PORT_ALREADY_LISTED and stops, keeping what was appended before
    // it. 0 on success.
    LONG AddPortsFromGroup(LONG group, std::list<LONG>& ports);
    // Appends the saved configuration's ports; the server's code.
    LONG GetSavedPorts(std::list<LONG>& ports);
    // Appends one new BSTR per saved key of `type` (the caller frees each);
    // the server's code. A key is read up to its terminator, never beyond
    // its slot.
    LONG ListSavedPortInfo(EListSavedInfoType type, std::list<BSTR>& list);
    // The value saved under `key` (null: the empty key) as a new BSTR in
    // `*value`; on failure `*value` is untouched. The server's code; a null
    // `value` gives E_POINTER.
    LONG GetSavedPortInfo(EListSavedInfoType type, const unsigned short* key, BSTR* value);
    // Sends the entries, each followed by one space, as one text.
    LONG SetPortMapping(const std::list<host::wstring>& mapping);
    // Appends the present port of each of `originalPorts`, in order; the
    // caller passes an empty `correspondingPorts` ("originalPorts.size() ==
    // correspondingPorts.size()"). The server's code.
    LONG GetCorrespondingPorts(const std::list<LONG>& originalPorts,
                               std::list<LONG>& correspondingPorts);
    // The present port of `port`; 0 on any success, the server's failure
    // otherwise (`correspondingPort` untouched then).
    LONG GetCorrespondingPort(LONG port, LONG& correspondingPort);
    // The saved port that `port` replaces, 0 when the server wrote nothing
    // (also on failure); the server's code.
    LONG GetReplacedPort(const LONG& port, LONG& replacedPort);

    // ---- Subscriptions ----

    // Subscribes `client`; 0, or the failure (no cookie stored).
    LONG Advise(IIntPortSelectorEvents* client);
    // Ends the subscription; 0, or the failure (the cookie is kept).
    // Unsubscribed, reports "m_ClientCookie != 0" and passes cookie 0 on.
    LONG Unadvise();
    LONG AdviseOnGuardEvents(IIntPortSelectorGuardEvents* client);
    LONG UnadviseOnGuardEvents();

  private:
    // Binds to the published pointer; Localize's code.
    LONG Initialize();
    // The binding prologue: S_OK when bound, else the binding failure.
    LONG Bind();

    IIntPortSelector* m_pPortSelector;
    DWORD m_ClientCookie;
    DWORD m_ClientCookieGuardEvents;

    // The published pointer, one reference held while set.
    static IIntPortSelector* g_pPortSelector;
    // Reserved for a marshalled selector; no operation reads or writes it.
    static IStream* g_pStream;
};

// Writes the values in list order, in decimal, separated by one space.
KES_API std::ostream& operator<<(std::ostream& stream, const std::list<LONG>& ports);
