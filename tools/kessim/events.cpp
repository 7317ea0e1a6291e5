#include "events.h"

namespace kessim {

const char* EventName(EventKind kind) {
    switch (kind) {
        case EventKind::PortAdded:
            return "port added";
        case EventKind::PortRemoved:
            return "port removed";
        case EventKind::PortMappingChanged:
            return "mapping changed";
        case EventKind::PortModeChanged:
            return "port mode changed";
        case EventKind::PortReserved:
            return "port reserved";
        case EventKind::PortReleased:
            return "port released";
        case EventKind::ConfigReadOnlyChanged:
            return "read-only mode changed";
        case EventKind::TestStateChanged:
            return "test state changed";
        case EventKind::TestModeChanged:
            return "test mode changed";
        case EventKind::TimestampsReset:
            return "timestamps reset";
        case EventKind::SessionClosing:
            return "session closing";
        case EventKind::SessionSuspended:
            return "session suspended";
        case EventKind::SessionResumed:
            return "session resumed";
        case EventKind::ConfigurationChanged:
            return "configuration changed";
        case EventKind::Count_:
            break;
    }
    return "unknown event";
}

void EventBridge::Count(EventKind kind) {
    m_Received[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
}

LONG EventBridge::Received(EventKind kind) const {
    return m_Received[static_cast<std::size_t>(kind)].load(std::memory_order_relaxed);
}

LONG EventBridge::Received() const {
    LONG total = 0;
    for (const auto& count : m_Received)
        total += count.load(std::memory_order_relaxed);
    return total;
}

HRESULT EventBridge::OnPortAdded(LONG port) {
    Count(EventKind::PortAdded);
    m_Hub.ports.notify(SimEvent{EventKind::PortAdded, port, 0});
    m_Hub.configuration.notify();
    return S_OK;
}

HRESULT EventBridge::OnPortRemoved(LONG port) {
    Count(EventKind::PortRemoved);
    m_Hub.ports.notify(SimEvent{EventKind::PortRemoved, port, 0});
    m_Hub.configuration.notify();
    return S_OK;
}

HRESULT EventBridge::OnPortMappingChanged() {
    Count(EventKind::PortMappingChanged);
    m_Hub.ports.notify(SimEvent{EventKind::PortMappingChanged, 0, 0});
    m_Hub.configuration.notify();
    return S_OK;
}

HRESULT EventBridge::OnPortModeChanged(EPiPortMode mode) {
    Count(EventKind::PortModeChanged);
    m_Hub.ports.notify(SimEvent{EventKind::PortModeChanged, mode, 0});
    return S_OK;
}

HRESULT EventBridge::OnPortReserved(LONG port, LONG session) {
    Count(EventKind::PortReserved);
    m_Hub.ports.notify(SimEvent{EventKind::PortReserved, port, session});
    return S_OK;
}

HRESULT EventBridge::OnPortReleased(LONG port) {
    Count(EventKind::PortReleased);
    m_Hub.ports.notify(SimEvent{EventKind::PortReleased, port, 0});
    return S_OK;
}

HRESULT EventBridge::OnConfigFileReadOnlyChanged(int mode) {
    Count(EventKind::ConfigReadOnlyChanged);
    m_Hub.ports.notify(SimEvent{EventKind::ConfigReadOnlyChanged, mode, 0});
    return S_OK;
}

HRESULT EventBridge::OnTestStateChanged(EDovTestState state) {
    Count(EventKind::TestStateChanged);
    m_Hub.test.notify(SimEvent{EventKind::TestStateChanged, state, 0});
    return S_OK;
}

HRESULT EventBridge::OnTestModeChanged(EDovTestMode mode) {
    Count(EventKind::TestModeChanged);
    m_Hub.test.notify(SimEvent{EventKind::TestModeChanged, mode, 0});
    return S_OK;
}

HRESULT EventBridge::OnTimestampsReset(LONG startTime) {
    Count(EventKind::TimestampsReset);
    m_Hub.test.notify(SimEvent{EventKind::TimestampsReset, startTime, 0});
    return S_OK;
}

HRESULT EventBridge::OnSessionClosing(LONG session) {
    Count(EventKind::SessionClosing);
    m_Hub.session.notify(SimEvent{EventKind::SessionClosing, session, 0});
    return S_OK;
}

HRESULT EventBridge::OnSessionSuspended(LONG session) {
    Count(EventKind::SessionSuspended);
    // Closed before the observers hear of the suspension, so that nothing
    // they are told afterwards slips through.
    if (!m_GateClosed.exchange(true))
        m_Hub.configuration.disable();
    m_Hub.session.notify(SimEvent{EventKind::SessionSuspended, session, 0});
    return S_OK;
}

HRESULT EventBridge::OnSessionResumed(LONG session) {
    Count(EventKind::SessionResumed);
    m_Hub.session.notify(SimEvent{EventKind::SessionResumed, session, 0});
    // Delivers what was held back, one notification per change.
    if (m_GateClosed.exchange(false))
        m_Hub.configuration.enable();
    return S_OK;
}

}  // namespace kessim
