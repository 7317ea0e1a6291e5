// Event sinks for the tester's events interfaces that record what they were
// told, for the connection-point, simulated-server and proxy tests.
#pragma once

#include <host/comptr.h>
#include <tester/interfaces.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsinks {

// Counts live sinks, so that tests can see every sink freed.
inline std::atomic<int> g_liveSinks{0};

// One sink for all four events interfaces; each call is recorded as a short
// text ("added 101", "state 2", ...). `m_OnEvent`, when set, runs after the
// record is made, on the firing thread.
class RecordingSink : public host::ComObject<IIntPortSelectorEvents, IIntPortSelectorGuardEvents,
                                             IIntTestControllerEvents, IIntTestSessionGuardEvents> {
  public:
    RecordingSink() { ++g_liveSinks; }
    ~RecordingSink() override { --g_liveSinks; }

    HRESULT OnPortAdded(LONG port) override { return Note("added " + std::to_string(port)); }
    HRESULT OnPortRemoved(LONG port) override { return Note("removed " + std::to_string(port)); }
    HRESULT OnPortMappingChanged() override { return Note("mapping"); }
    HRESULT OnPortModeChanged(EPiPortMode mode) override {
        return Note("mode " + std::to_string(mode));
    }
    HRESULT OnPortReserved(LONG port, LONG session) override {
        return Note("reserved " + std::to_string(port) + " " + std::to_string(session));
    }
    HRESULT OnPortReleased(LONG port) override { return Note("released " + std::to_string(port)); }
    HRESULT OnConfigFileReadOnlyChanged(int mode) override {
        return Note("readonly " + std::to_string(mode));
    }
    HRESULT OnTestStateChanged(EDovTestState state) override {
        return Note("state " + std::to_string(state));
    }
    HRESULT OnTestModeChanged(EDovTestMode mode) override {
        return Note("testmode " + std::to_string(mode));
    }
    HRESULT OnTimestampsReset(LONG startTime) override {
        return Note("reset " + std::to_string(startTime));
    }
    HRESULT OnSessionClosing(LONG session) override {
        return Note("closing " + std::to_string(session));
    }
    HRESULT OnSessionSuspended(LONG session) override {
        return Note("suspended " + std::to_string(session));
    }
    HRESULT OnSessionResumed(LONG session) override {
        return Note("resumed " + std::to_string(session));
    }

    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> hold(m_Lock);
        return m_Events;
    }
    std::size_t Count() const {
        std::lock_guard<std::mutex> hold(m_Lock);
        return m_Events.size();
    }

    std::function<void(const std::string&)> m_OnEvent;

  private:
    HRESULT Note(const std::string& text) {
        {
            std::lock_guard<std::mutex> hold(m_Lock);
            m_Events.push_back(text);
        }
        if (m_OnEvent)
            m_OnEvent(text);
        return S_OK;
    }

    mutable std::mutex m_Lock;
    std::vector<std::string> m_Events;
};

// A sink that implements none of the events interfaces.
struct IUnrelated : public IUnknown {
    virtual HRESULT Nothing() = 0;
};
DEFINE_GUID(IID_IUnrelated, 0x3E0B9C41, 0x77A2, 0x4F10, 0x8C, 0x5D, 0x11, 0x22, 0x33, 0x44, 0x55,
            0x66);

}  // namespace testsinks

HOST_INTERFACE_ID(testsinks::IUnrelated, testsinks::IID_IUnrelated);

namespace testsinks {

class UnrelatedSink : public host::ComObject<IUnrelated> {
  public:
    HRESULT Nothing() override { return S_OK; }
};

}  // namespace testsinks
