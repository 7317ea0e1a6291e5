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

void EventBridge::Forward(CKesNotifier<SimEvent>& to, EventKind kind, LONG first, LONG second) {
    m_Received[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
    to.notify(SimEvent{kind, first, second});
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
    Forward(m_Hub.ports, EventKind::PortAdded, port);
    m_Hub.configuration.notify();
    return S_OK;
}

HRESULT EventBridge::OnPortRemoved(LONG port) {
    Forward(m_Hub.ports, EventKind::PortRemoved, port);
    m_Hub.configuration.notify();
    return S_OK;
}

HRESULT EventBridge::OnPortMappingChanged() {
    Forward(m_Hub.ports, EventKind::PortMappingChanged, 0);
    m_Hub.configuration.notify();
    return S_OK;
}

HRESULT EventBridge::OnPortModeChanged(EPiPortMode mode) {
    Forward(m_Hub.ports, EventKind::PortModeChanged, mode);
    return S_OK;
}

HRESULT EventBridge::OnPortReserved(LONG port, LONG session) {
    Forward(m_Hub.ports, EventKind::PortReserved, port, session);
    return S_OK;
}

HRESULT EventBridge::OnPortReleased(LONG port) {
    Forward(m_Hub.ports, EventKind::PortReleased, port);
    return S_OK;
}

HRESULT EventBridge::OnConfigFileReadOnlyChanged(int mode) {
    Forward(m_Hub.ports, EventKind::ConfigReadOnlyChanged, mode);
    return S_OK;
}

HRESULT EventBridge::OnTestStateChanged(EDovTestState state) {
    Forward(m_Hub.test, EventKind::TestStateChanged, state);
    return S_OK;
}

HRESULT EventBridge::OnTestModeChanged(EDovTestMode mode) {
    Forward(m_Hub.test, EventKind::TestModeChanged, mode);
    return S_OK;
}

HRESULT EventBridge::OnTimestampsReset(LONG startTime) {
    Forward(m_Hub.test, EventKind::TimestampsReset, startTime);
    return S_OK;
}

HRESULT EventBridge::OnSessionClosing(LONG session) {
    Forward(m_Hub.session, EventKind::SessionClosing, session);
    return S_OK;
}

HRESULT EventBridge::OnSessionSuspended(LONG session) {
    // Closed before the observers hear of the suspension, so that nothing
    // they are told afterwards slips through.
    if (!m_GateClosed.exchange(true))
        m_Hub.configuration.disable();
    Forward(m_Hub.session, EventKind::SessionSuspended, session);
    return S_OK;
}

HRESULT EventBridge::OnSessionResumed(LONG session) {
    Forward(m_Hub.session, EventKind::SessionResumed, session);
    // Delivers what was held back, one notification per change.
    if (m_GateClosed.exchange(false))
        m_Hub.configuration.enable();
    return S_OK;
}

}  // namespace kessim
