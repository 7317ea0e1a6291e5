// The tester server's COM interfaces, as the library and its callers see them.
//
// Header-only: declarations and their identifiers, shared by kes (the client
// side) and kes::tester (the simulated server). A real server implements the
// same interfaces with the same identifiers.
//
// Strings cross the session interfaces as BSTRs. A BSTR passed in stays the
// caller's; a BSTR handed out through an out parameter becomes the caller's,
// who frees it with SysFreeString. The port selector also hands out
// task-memory blocks (see its section below).
#pragma once

#include <host/com.h>
#include <host/comptr.h>
#include <host/types.h>

#include <cstdint>

// ---- Error messages, test session, session manager ----------------------------

DEFINE_GUID(CLSID_DovErrorLookup, 0x5C1E7A10, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);
DEFINE_GUID(IID_IDovErrorLookup, 0x5C1E7A11, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);
DEFINE_GUID(IID_IDovTestSession, 0x5C1E7A12, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);
DEFINE_GUID(IID_IDovSessionManager, 0x5C1E7A13, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);

// The error-message server: the standard message of every result code.
struct IDovErrorLookup : public IUnknown {
    // `*message` receives a new BSTR with the standard text for `code` (never
    // null on success), owned by the caller.
    virtual HRESULT LookupMessage(LONG code, BSTR* message) = 0;

  protected:
    ~IDovErrorLookup() = default;
};

// The running test session.
struct IDovTestSession : public IUnknown {
    // The session's number; 0 means no session.
    virtual HRESULT GetSessionNumber(LONG* number) = 0;
    // A named object of the session ("DovSessionManager" is its manager);
    // `*object` receives an AddRef'd pointer, or null with a failure code.
    virtual HRESULT GetSessionObject(BSTR name, IUnknown** object) = 0;

  protected:
    ~IDovTestSession() = default;
};

// The test session's manager, told of every fatal error.
struct IDovSessionManager : public IUnknown {
    // `text` stays the caller's.
    virtual HRESULT ReportFatalError(LONG sessionNumber, BSTR text) = 0;

  protected:
    ~IDovSessionManager() = default;
};

HOST_INTERFACE_ID(IDovErrorLookup, IID_IDovErrorLookup);
HOST_INTERFACE_ID(IDovTestSession, IID_IDovTestSession);
HOST_INTERFACE_ID(IDovSessionManager, IID_IDovSessionManager);

// ---- Port selector, test controller and their events ----------------------------
//
// Port, group and module handles are opaque LONG values handed out by the
// server. Arrays and strings that the server hands out through these
// interfaces (counted arrays of ports, the saved-information texts, the port
// name and the port label bytes) are task-memory blocks: the receiver frees
// them with CoTaskMemFree. A BSTR handed out is freed with SysFreeString.
// Nothing is handed out on failure.
//
// Event methods are called by the server on whichever thread made the change
// that they report; their result is ignored. A sink must not throw.

DEFINE_GUID(IID_IIntPortSelector, 0x7A3D4120, 0x58C1, 0x4B2E, 0x8F, 0x04, 0x6D, 0x19, 0xE2, 0x5A,
            0x30, 0xC7);
DEFINE_GUID(IID_IIntPortSelectorEvents, 0x7A3D4121, 0x58C1, 0x4B2E, 0x8F, 0x04, 0x6D, 0x19, 0xE2,
            0x5A, 0x30, 0xC7);
DEFINE_GUID(IID_IIntPortSelectorGuardEvents, 0x7A3D4122, 0x58C1, 0x4B2E, 0x8F, 0x04, 0x6D, 0x19,
            0xE2, 0x5A, 0x30, 0xC7);
DEFINE_GUID(IID_IIntTestController, 0x7A3D4123, 0x58C1, 0x4B2E, 0x8F, 0x04, 0x6D, 0x19, 0xE2, 0x5A,
            0x30, 0xC7);
DEFINE_GUID(IID_IIntTestControllerEvents, 0x7A3D4124, 0x58C1, 0x4B2E, 0x8F, 0x04, 0x6D, 0x19, 0xE2,
            0x5A, 0x30, 0xC7);
DEFINE_GUID(IID_IIntTestSessionGuardEvents, 0x7A3D4125, 0x58C1, 0x4B2E, 0x8F, 0x04, 0x6D, 0x19,
            0xE2, 0x5A, 0x30, 0xC7);

// How the tester reaches its ports.
enum EPiPortMode : std::int32_t {
    PiPortModeSingleChassis = 0,  // every port is in this host's chassis
    PiPortModeMultiChassis = 1,   // some ports are in slave chassis (see GetSlaveAddress)
    PiPortModeOffline = 2,        // no hardware: ports are configured, not present
};

// The kinds of per-port information kept with a saved configuration.
enum EListSavedInfoType : std::int32_t {
    SavedInfoPortLabel = 0,    // key: a saved port's number; value: its label
    SavedInfoPortName = 1,     // key: a saved port's number; value: its name
    SavedInfoPortAddress = 2,  // key: a saved port's number; value: its IP address
    SavedInfoUserData = 3,     // free keys and values kept by applications
};

// Where the running test is in its life.
enum EDovTestState : std::int32_t {
    DovTestIdle = 0,
    DovTestStarting = 1,
    DovTestRunning = 2,
    DovTestStopping = 3,
    DovTestStopped = 4,
    DovTestAborted = 5,
};

// How the test runs.
enum EDovTestMode : std::int32_t {
    DovTestModeContinuous = 0,  // until stopped
    DovTestModeTimed = 1,       // for the test duration
    DovTestModeSingleShot = 2,  // one sampling interval
};

// The server's port selector: which ports exist, how they are grouped, how
// the ports of a saved configuration map onto the present ones.
struct IIntPortSelector : public IUnknown {
    // How many ports the selector has (dummy ports included).
    virtual HRESULT GetPortCount(LONG* count) = 0;
    // The version of the selector's interface contract (1 for this one).
    virtual HRESULT GetSelectorVersion(LONG* version) = 0;
    // `*flag` non-zero: `port` is a port of the selector.
    virtual HRESULT IsValidPort(LONG port, LONG* flag) = 0;
    // `*flag` non-zero: `port` is a dummy (placeholder) port.
    virtual HRESULT IsDummyPort(LONG port, LONG* flag) = 0;
    // Every port, in port-number order.
    virtual HRESULT ListPorts(LONG* count, LONG** ports) = 0;
    // The ports that run synchronised with one another.
    virtual HRESULT ListSynchronizedPorts(LONG* count, LONG** ports) = 0;
    // `*flag` non-zero: `group` is a group of the selector.
    virtual HRESULT IsValidGroup(LONG group, LONG* flag) = 0;
    virtual HRESULT ListPortsInGroup(LONG group, LONG* count, LONG** ports) = 0;
    virtual HRESULT ListPortsInModule(LONG module, LONG* count, LONG** ports) = 0;
    // The port's object, as its `riid` interface, AddRef'd.
    virtual HRESULT GetPortInterface(LONG port, const GUID& riid, void** ppv) = 0;
    virtual HRESULT GetPortMode(EPiPortMode* mode) = 0;
    // S_OK when every selected port can start a test, S_FALSE when not yet.
    virtual HRESULT ReadyToStart() = 0;
    // Where `port` of slave chassis `slave` is reached: the chassis's IPv4
    // address (host order), its TCP port number and the port's index there.
    virtual HRESULT GetSlaveAddress(LONG slave, LONG port, ULONG* ipAddress, ULONG* portNumber,
                                    ULONG* portIndex) = 0;
    // The module (line card) that holds `port`.
    virtual HRESULT GetModuleOfPort(LONG port, LONG* module) = 0;
    virtual HRESULT GetPortNumber(LONG port, LONG* number) = 0;
    virtual HRESULT ListPortsOnSameCpu(LONG port, LONG* count, LONG** ports) = 0;
    // The module handle of `port` and its EDovPortType.
    virtual HRESULT GetPortDetails(LONG port, LONG* module, LONG* portType) = 0;
    // The port's name as a terminated task-memory string: `style` 0 gives
    // the short name, 1 the name qualified by the module's number.
    virtual HRESULT GetPortName(LONG port, LONG style, WCHAR** name) = 0;
    virtual HRESULT GetPortLabelBstrFromHandle(LONG handle, BSTR* label) = 0;
    // The label as UTF-8 bytes in task memory, terminated; `*length` counts
    // the bytes without the terminator.
    virtual HRESULT GetPortLabelFromHandle(LONG handle, LONG* length, unsigned char** label) = 0;
    // Replaces the port mapping: `length` characters of `mapping` (no
    // terminator needed), blank-separated pairs "saved present" of port
    // handles. An empty mapping clears it.
    virtual HRESULT SetPortMapping(LONG length, const WCHAR* mapping) = 0;
    // The present port for each of `count` given saved ports, in order; a
    // port that the mapping does not name stands for itself (S_FALSE then).
    virtual HRESULT GetCorrespondingPorts(LONG count, const LONG* ports, LONG* correspondingCount,
                                          LONG** correspondingPorts) = 0;
    // The saved port that the mapping replaces by `port`; S_FALSE and 0 when
    // it replaces none.
    virtual HRESULT GetReplacedPort(LONG port, LONG* replacedPort) = 0;
    // Non-zero `mode`: the configuration file may be read but not written.
    virtual HRESULT SetConfigFileReadOnlyMode(int mode) = 0;
    // The ports of the saved configuration.
    virtual HRESULT GetSavedPorts(LONG* count, LONG** ports) = 0;
    // The keys of one kind of saved information: `*count` entries, each
    // `*width` characters wide and terminated within its slot, laid end to
    // end in one task-memory block.
    virtual HRESULT ListSavedPortInfo(EListSavedInfoType type, LONG* count, LONG* width,
                                      WCHAR** entries) = 0;
    // The value saved under a key: `keyLength` counts the key's characters
    // with its terminator. `*value` is a terminated task-memory string of
    // `*valueLength` characters (terminator not counted).
    virtual HRESULT GetSavedPortInfo(EListSavedInfoType type, LONG keyLength, const WCHAR* key,
                                     LONG* valueLength, WCHAR** value) = 0;

  protected:
    ~IIntPortSelector() = default;
};

// Changes to the selector's ports.
struct IIntPortSelectorEvents : public IUnknown {
    virtual HRESULT OnPortAdded(LONG port) = 0;
    virtual HRESULT OnPortRemoved(LONG port) = 0;
    virtual HRESULT OnPortMappingChanged() = 0;
    virtual HRESULT OnPortModeChanged(EPiPortMode mode) = 0;

  protected:
    ~IIntPortSelectorEvents() = default;
};

// Ports taken and given back by test sessions, and the configuration's
// write protection.
struct IIntPortSelectorGuardEvents : public IUnknown {
    // `session` now holds `port`; other sessions must leave it alone.
    virtual HRESULT OnPortReserved(LONG port, LONG session) = 0;
    virtual HRESULT OnPortReleased(LONG port) = 0;
    virtual HRESULT OnConfigFileReadOnlyChanged(int mode) = 0;

  protected:
    ~IIntPortSelectorGuardEvents() = default;
};

// The server's test controller: state, mode and timing of the running test.
// Times are in seconds, the sampling interval in milliseconds, the start
// time in seconds since 2000-01-01 00:00:00 UTC.
struct IIntTestController : public IUnknown {
    // The number of tests started since the server began.
    virtual HRESULT GetTestCount(LONG* count) = 0;
    virtual HRESULT GetTestState(EDovTestState* state) = 0;
    virtual HRESULT GetTestMode(EDovTestMode* mode) = 0;
    virtual HRESULT GetTestDuration(LONG* seconds) = 0;
    virtual HRESULT GetSamplingInterval(LONG* milliseconds) = 0;
    virtual HRESULT GetTrickleTime(LONG* seconds) = 0;
    virtual HRESULT GetStartTime(LONG* seconds) = 0;
    virtual HRESULT GetElapsedTime(LONG* seconds) = 0;
    // Restarts the test's clock: start time now, elapsed time 0.
    virtual HRESULT ResetTimestamps() = 0;
    // S_OK when ResetTimestamps would succeed now, S_FALSE when there is
    // nothing to reset (no test running).
    virtual HRESULT CanResetTimestamps() = 0;

  protected:
    ~IIntTestController() = default;
};

struct IIntTestControllerEvents : public IUnknown {
    virtual HRESULT OnTestStateChanged(EDovTestState state) = 0;
    virtual HRESULT OnTestModeChanged(EDovTestMode mode) = 0;
    // The test's clock restarted at `startTime`.
    virtual HRESULT OnTimestampsReset(LONG startTime) = 0;

  protected:
    ~IIntTestControllerEvents() = default;
};

// The test session's warnings to the components that run inside it.
struct IIntTestSessionGuardEvents : public IUnknown {
    // The session is about to end: finish up and unsubscribe.
    virtual HRESULT OnSessionClosing(LONG session) = 0;
    virtual HRESULT OnSessionSuspended(LONG session) = 0;
    virtual HRESULT OnSessionResumed(LONG session) = 0;

  protected:
    ~IIntTestSessionGuardEvents() = default;
};

HOST_INTERFACE_ID(IIntPortSelector, IID_IIntPortSelector);
HOST_INTERFACE_ID(IIntPortSelectorEvents, IID_IIntPortSelectorEvents);
HOST_INTERFACE_ID(IIntPortSelectorGuardEvents, IID_IIntPortSelectorGuardEvents);
HOST_INTERFACE_ID(IIntTestController, IID_IIntTestController);
HOST_INTERFACE_ID(IIntTestControllerEvents, IID_IIntTestControllerEvents);
HOST_INTERFACE_ID(IIntTestSessionGuardEvents, IID_IIntTestSessionGuardEvents);
