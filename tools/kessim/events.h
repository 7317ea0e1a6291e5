// The simulator's event hub: the tester server's COM events turned into kes
// notifications.
//
// One `EventBridge` sink is subscribed, through the proxies, to the port
// selector's events and guard events, the test controller's events and the
// recorded test session's guard events. Each event it receives becomes one
// `SimEvent` notification on the matching notifier of the `EventHub`; the
// components observe those notifiers and never see COM.
//
// Changes of the port configuration (a port added or removed, the mapping
// changed) are also announced on the gated `configuration` notifier. The
// bridge disables that gate while the test session is suspended and enables
// it again when the session resumes, so the notifications of a suspended
// session are held back and delivered, one per change, on resumption.
//
// Threads: the server fires events on the thread that made the change (the
// simulator's main thread); the notifiers call their observers on that
// thread, under their own lock. The hub must outlive every subscription of
// the bridge and of the observers.
#pragma once

#include <host/comptr.h>
#include <host/types.h>
#include <kes/observer/kesgatednotifierb.h>
#include <kes/observer/kesnotifierb.h>
#include <tester/interfaces.h>

#include <array>
#include <atomic>
#include <cstddef>

namespace kessim {

enum class EventKind : int {
    PortAdded,
    PortRemoved,
    PortMappingChanged,
    PortModeChanged,
    PortReserved,
    PortReleased,
    ConfigReadOnlyChanged,
    TestStateChanged,
    TestModeChanged,
    TimestampsReset,
    SessionClosing,
    SessionSuspended,
    SessionResumed,
    ConfigurationChanged,  // from the gated notifier; carries no data there
    Count_
};
constexpr std::size_t EVENT_KIND_COUNT = static_cast<std::size_t>(EventKind::Count_);

// A short lower-case name for reports ("port added").
const char* EventName(EventKind kind);

// One notification: the event and its two figures (port and session, state,
// mode, start time, ...; 0 where the event has fewer).
struct SimEvent {
    EventKind kind;
    LONG first;
    LONG second;
};

struct EventHub {
    CKesNotifier<SimEvent> ports;                  // port selector events and guard events
    CKesNotifier<SimEvent> test;                   // test controller events
    CKesNotifier<SimEvent> session;                // test session guard events
    CKesGatedNotifier<CKesNothing> configuration;  // port configuration changed
};

class EventBridge : public host::ComObject<IIntPortSelectorEvents, IIntPortSelectorGuardEvents,
                                           IIntTestControllerEvents, IIntTestSessionGuardEvents> {
  public:
    explicit EventBridge(EventHub& hub) : m_Hub(hub) {}

    HRESULT OnPortAdded(LONG port) override;
    HRESULT OnPortRemoved(LONG port) override;
    HRESULT OnPortMappingChanged() override;
    HRESULT OnPortModeChanged(EPiPortMode mode) override;
    HRESULT OnPortReserved(LONG port, LONG session) override;
    HRESULT OnPortReleased(LONG port) override;
    HRESULT OnConfigFileReadOnlyChanged(int mode) override;
    HRESULT OnTestStateChanged(EDovTestState state) override;
    HRESULT OnTestModeChanged(EDovTestMode mode) override;
    HRESULT OnTimestampsReset(LONG startTime) override;
    HRESULT OnSessionClosing(LONG session) override;
    HRESULT OnSessionSuspended(LONG session) override;
    HRESULT OnSessionResumed(LONG session) override;

    // COM events received so far, of one kind and in all.
    LONG Received(EventKind kind) const;
    LONG Received() const;

  private:
    // Counts the event and passes it on to `to`.
    void Forward(CKesNotifier<SimEvent>& to, EventKind kind, LONG first, LONG second = 0);

    EventHub& m_Hub;
    std::array<std::atomic<LONG>, EVENT_KIND_COUNT> m_Received{};
    // The gate was closed by a suspension: a resumption opens it once, a
    // second suspension does not close it twice.
    std::atomic<bool> m_GateClosed{false};
};

}  // namespace kessim
