// The simulated port selector: the tester server's IIntPortSelector, with
// ports, groups, modules, CPUs, dummy ports, a saved configuration, saved
// per-port information and a port mapping that code or the registry sets up.
//
// `tester::PortSelector` is a free-threaded COM object (create it with
// `host::make_com<tester::PortSelector>()`); every member may be called from
// any thread. It fires IIntPortSelectorEvents and IIntPortSelectorGuardEvents
// through its IConnectionPointContainer, on the thread that made the change,
// after its own lock is given back, so sinks may call the selector from
// inside an event.
//
// What it hands out follows the interface's rules: counted arrays, the port
// name, the label bytes and the saved-information texts are task-memory
// blocks (CoTaskMemFree), labels asked for as BSTR are BSTRs
// (SysFreeString), and nothing is handed out on a failure. A null
// out-pointer gives E_POINTER; an unknown port, group or module handle, a
// negative count or a malformed mapping gives E_INVALIDARG; a saved key that
// is not there gives TESTER_E_NOT_FOUND. Outputs are untouched on failure.
//
// Tests can make any method fail (`SetResult`) and count the calls each
// method received (`Calls`), and read back what SetPortMapping and
// GetSavedPortInfo were sent.
#pragma once

#include <host/comptr.h>
#include <host/connpt.h>
#include <host/registry.h>
#include <host/types.h>
#include <tester/export.h>
#include <tester/interfaces.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tester {

// A saved key or a registry entry that is not there.
constexpr HRESULT TESTER_E_NOT_FOUND = static_cast<HRESULT>(0x80070002u);

// The selector's methods, for SetResult and Calls.
enum class SelectorMethod : int {
    GetPortCount,
    GetSelectorVersion,
    IsValidPort,
    IsDummyPort,
    ListPorts,
    ListSynchronizedPorts,
    IsValidGroup,
    ListPortsInGroup,
    ListPortsInModule,
    GetPortInterface,
    GetPortMode,
    ReadyToStart,
    GetSlaveAddress,
    GetModuleOfPort,
    GetPortNumber,
    ListPortsOnSameCpu,
    GetPortDetails,
    GetPortName,
    GetPortLabelBstrFromHandle,
    GetPortLabelFromHandle,
    SetPortMapping,
    GetCorrespondingPorts,
    GetReplacedPort,
    SetConfigFileReadOnlyMode,
    GetSavedPorts,
    ListSavedPortInfo,
    GetSavedPortInfo,
    Count_
};
constexpr std::size_t SELECTOR_METHOD_COUNT = static_cast<std::size_t>(SelectorMethod::Count_);

// One port of the simulated tester.
struct PortConfig {
    LONG handle = 0;     // the server's handle; non-zero, unique
    LONG number = 0;     // the port number users see
    std::string label;   // UTF-8
    host::wstring name;  // empty: "Port <number>"
    LONG group = 0;      // 0: in no group
    LONG module = 0;     // module (line card) handle
    LONG cpu = 0;        // the CPU that drives the port
    LONG portType = 0;   // an EDovPortType
    bool dummy = false;  // a placeholder without hardware
    bool synchronized = false;
    LONG slave = 0;                    // chassis: 0 this one, else a slave chassis
    ULONG slaveAddress = 0x7F000001u;  // the chassis's IPv4 address, host order
    ULONG slavePort = 0;               // the chassis's TCP port
    ULONG slaveIndex = 0;              // the port's index in its chassis
};

// Everything the selector knows.
struct PortSelectorConfig {
    std::vector<PortConfig> ports;
    std::vector<LONG> groups;      // groups that exist even without ports
    std::vector<LONG> savedPorts;  // the saved configuration's ports
    // Saved information per kind: (key, value) pairs in listing order.
    std::map<EListSavedInfoType, std::vector<std::pair<host::wstring, host::wstring>>> savedInfo;
    // Slot width of ListSavedPortInfo in characters; 0: the longest key plus
    // its terminator (at least 1). A width too small for a key is widened.
    LONG savedInfoWidth = 0;
    std::vector<std::pair<LONG, LONG>> mapping;  // (saved port, present port)
    EPiPortMode mode = PiPortModeSingleChassis;
    bool readyToStart = true;
    int configReadOnly = 0;
};

// A small tester: `ports` ports numbered from 1, handles 101, 102, ...,
// two ports per module (modules 11, 12, ...), four per CPU, alternately in
// groups 1 and 2, labels "P1", "P2", ..., names "Port 1", ...; the last port
// a dummy when `ports` > 2; the first two synchronised; saved ports the same
// as the present ones, with a label and a name saved for each.
TESTER_API PortSelectorConfig DefaultPortSelectorConfig(int ports);

class TESTER_API PortSelector
    : public host::ComObject<IIntPortSelector, IConnectionPointContainer> {
  public:
    PortSelector();
    explicit PortSelector(PortSelectorConfig config);
    ~PortSelector() override;

    // ---- IIntPortSelector ----
    HRESULT GetPortCount(LONG* count) override;
    HRESULT GetSelectorVersion(LONG* version) override;
    HRESULT IsValidPort(LONG port, LONG* flag) override;
    HRESULT IsDummyPort(LONG port, LONG* flag) override;
    HRESULT ListPorts(LONG* count, LONG** ports) override;
    HRESULT ListSynchronizedPorts(LONG* count, LONG** ports) override;
    HRESULT IsValidGroup(LONG group, LONG* flag) override;
    HRESULT ListPortsInGroup(LONG group, LONG* count, LONG** ports) override;
    HRESULT ListPortsInModule(LONG module, LONG* count, LONG** ports) override;
    HRESULT GetPortInterface(LONG port, const GUID& riid, void** ppv) override;
    HRESULT GetPortMode(EPiPortMode* mode) override;
    HRESULT ReadyToStart() override;
    HRESULT GetSlaveAddress(LONG slave, LONG port, ULONG* ipAddress, ULONG* portNumber,
                            ULONG* portIndex) override;
    HRESULT GetModuleOfPort(LONG port, LONG* module) override;
    HRESULT GetPortNumber(LONG port, LONG* number) override;
    HRESULT ListPortsOnSameCpu(LONG port, LONG* count, LONG** ports) override;
    HRESULT GetPortDetails(LONG port, LONG* module, LONG* portType) override;
    HRESULT GetPortName(LONG port, LONG style, WCHAR** name) override;
    HRESULT GetPortLabelBstrFromHandle(LONG handle, BSTR* label) override;
    HRESULT GetPortLabelFromHandle(LONG handle, LONG* length, unsigned char** label) override;
    HRESULT SetPortMapping(LONG length, const WCHAR* mapping) override;
    HRESULT GetCorrespondingPorts(LONG count, const LONG* ports, LONG* correspondingCount,
                                  LONG** correspondingPorts) override;
    HRESULT GetReplacedPort(LONG port, LONG* replacedPort) override;
    HRESULT SetConfigFileReadOnlyMode(int mode) override;
    HRESULT GetSavedPorts(LONG* count, LONG** ports) override;
    HRESULT ListSavedPortInfo(EListSavedInfoType type, LONG* count, LONG* width,
                              WCHAR** entries) override;
    HRESULT GetSavedPortInfo(EListSavedInfoType type, LONG keyLength, const WCHAR* key,
                             LONG* valueLength, WCHAR** value) override;

    // ---- IConnectionPointContainer ----
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // ---- Configuration from code ----
    // Replaces the whole configuration; fires nothing. E_INVALIDARG (and no
    // change) when a handle is 0 or used twice.
    HRESULT Configure(PortSelectorConfig config);
    PortSelectorConfig Configuration() const;
    // Adds a port and fires OnPortAdded. E_INVALIDARG for handle 0 or a
    // handle in use.
    HRESULT AddPort(const PortConfig& port);
    // Removes a port (and its object) and fires OnPortRemoved; E_INVALIDARG
    // for an unknown handle.
    HRESULT RemovePort(LONG handle);
    // Sets the mode and fires OnPortModeChanged.
    void SetPortMode(EPiPortMode mode);
    // Lets `session` hold `port` (fires OnPortReserved) or gives it back
    // (fires OnPortReleased). E_INVALIDARG for an unknown port or, on
    // release, a port nobody holds.
    HRESULT ReservePort(LONG port, LONG session);
    HRESULT ReleasePort(LONG port);
    // The session that holds `port`, 0 for none.
    LONG PortHolder(LONG port) const;
    // The object GetPortInterface asks for `port`'s interfaces (null: none);
    // one reference is kept.
    HRESULT SetPortObject(LONG port, IUnknown* object);

    // ---- Configuration in the registry ----
    // Reads a configuration written by SaveToRegistry below `root`\`path`
    // and applies it as Configure does. A missing key gives TESTER_E_NOT_FOUND;
    // another registry failure gives HRESULT_FROM_WIN32 of its status.
    HRESULT LoadFromRegistry(HKEY root, const host::wstring& path);
    // Writes the configuration below `root`\`path`, replacing what was there.
    HRESULT SaveToRegistry(HKEY root, const host::wstring& path) const;

    // ---- For tests ----
    // Makes `method` answer `result`: a failure code is returned at once and
    // nothing is written; a success code other than S_OK is returned in place
    // of the method's own success (its work is done). S_OK restores normal
    // answers.
    void SetResult(SelectorMethod method, HRESULT result);
    // Calls received by `method`, and by all methods together.
    LONG Calls(SelectorMethod method) const;
    LONG TotalCalls() const;
    // The units SetPortMapping received last (exactly `length` of them) and
    // the length it was given.
    host::wstring LastMapping() const;
    LONG LastMappingLength() const;
    // The key GetSavedPortInfo received last (the `keyLength` units given,
    // terminator included) and that length.
    host::wstring LastSavedInfoKey() const;
    LONG LastSavedInfoKeyLength() const;
    // Sinks connected to each connection point.
    std::size_t EventSinkCount() const { return m_Events.ConnectionCount(); }
    std::size_t GuardSinkCount() const { return m_GuardEvents.ConnectionCount(); }
    // Drops every sink (for shutdown, when sinks hold the selector).
    void DisconnectAllSinks();

  private:
    // Counts the call; returns the forced failure, or S_OK to go on.
    HRESULT Enter(SelectorMethod method);
    // The method's own success `hr`, or the forced success code.
    HRESULT Leave(SelectorMethod method, HRESULT hr) const;
    const PortConfig* FindPort(LONG handle) const;  // m_Lock held
    bool GroupExists(LONG group) const;             // m_Lock held
    // The handles of the ports that pass `keep`, in port-number order, as a
    // task-memory array.
    template <class Keep>
    HRESULT ListWhere(Keep keep, LONG* count, LONG** ports) const;  // m_Lock held

    mutable std::mutex m_Lock;
    PortSelectorConfig m_Config;                           // guarded by m_Lock
    std::map<LONG, LONG> m_Holders;                        // guarded by m_Lock
    std::map<LONG, host::ComPtr<IUnknown>> m_PortObjects;  // guarded by m_Lock
    host::wstring m_LastMapping;                           // guarded by m_Lock
    LONG m_LastMappingLength = -1;                         // guarded by m_Lock
    host::wstring m_LastKey;                               // guarded by m_Lock
    LONG m_LastKeyLength = -1;                             // guarded by m_Lock
    std::array<std::atomic<LONG>, SELECTOR_METHOD_COUNT> m_Calls{};
    std::array<std::atomic<HRESULT>, SELECTOR_METHOD_COUNT> m_Results{};
    host::ConnectionPoint<IIntPortSelectorEvents> m_Events;
    host::ConnectionPoint<IIntPortSelectorGuardEvents> m_GuardEvents;
};

}  // namespace tester
