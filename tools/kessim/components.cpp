#include "components.h"
#include "text.h"

#include <host/com.h>
#include <kes/error/kescodes.h>
#include <kes/error/keserror.h>
#include <kes/sync/keslock.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace kessim {

namespace {

// How long a worker sleeps at most before it looks at its queue again.
constexpr ULONG kPollMilliseconds = 20;

std::string PortText(LONG port) {
    return "port " + std::to_string(port);
}

// Enters COM on the worker for its life: raised errors fetch their message
// from the error-message server, which needs COM on the calling thread.
class ComScope {
  public:
    ComScope() : m_Entered(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ComScope() {
        if (m_Entered)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    bool m_Entered;
};

}  // namespace

const char* TestStateName(LONG state) {
    switch (state) {
        case DovTestIdle:
            return "idle";
        case DovTestStarting:
            return "starting";
        case DovTestRunning:
            return "running";
        case DovTestStopping:
            return "stopping";
        case DovTestStopped:
            return "stopped";
        case DovTestAborted:
            return "aborted";
        default:
            return "unknown";
    }
}

// ---- Observers ------------------------------------------------------------------------

void EventObserver::doCall(const void* theData) {
    if (theData != nullptr)
        m_Owner.Post(*static_cast<const SimEvent*>(theData));
}

void ConfigurationObserver::doCall(const void*) {
    m_Owner.Post(SimEvent{EventKind::ConfigurationChanged, 0, 0});
}

// ---- Component ------------------------------------------------------------------------

Component::Component(const char* name) : m_Name(name), m_Thread(this, Wide(name).c_str()) {}

Component::~Component() = default;

void Component::Start(int priority) {
    m_Thread.Start(0);
    m_Thread.SetPriority(priority);
}

void Component::Finish() {
    {
        CKesLock lock(&m_Lock);
        m_Finish = true;
    }
    m_Thread.Wakeup();
    m_Thread.WaitFor(0);
    // Run has returned; Stop only releases the ended worker.
    m_Thread.Stop();
}

void Component::Post(const SimEvent& event) {
    {
        CKesLock lock(&m_Lock);
        m_Queue.push_back(event);
    }
    m_Thread.Wakeup();
}

LONG Component::Handled(EventKind kind) const {
    return m_Handled[static_cast<std::size_t>(kind)];
}

LONG Component::Handled() const {
    LONG total = 0;
    for (LONG count : m_Handled)
        total += count;
    return total;
}

void Component::Raise(LONG code, const std::string& text, int line) {
    ++m_ErrorsRaised;
    KesRaiseError(code, text.c_str(), KES_SOURCE_FILE, line);
    Note("raised error: " + text);
}

bool Component::Next(SimEvent& event, bool& finish) {
    CKesLock lock(&m_Lock);
    finish = m_Finish;
    if (m_Queue.empty())
        return false;
    event = m_Queue.front();
    m_Queue.pop_front();
    return true;
}

void Component::Run() {
    ComScope com;
    Begin();
    for (;;) {
        SimEvent event{};
        bool finish = false;
        if (Next(event, finish)) {
            ++m_Handled[static_cast<std::size_t>(event.kind)];
            Handle(event);
            continue;
        }
        // The queue is drained; a finish request seen with it empty ends
        // the worker, so nothing posted before Finish is dropped.
        if (finish)
            break;
        m_Thread.Sleep(kPollMilliseconds);
    }
    End();
}

// ---- Port monitor ---------------------------------------------------------------------

PortMonitor::PortMonitor(EventHub& hub)
    : Component("port monitor"), m_Hub(hub), m_Ports(*this), m_Configuration(*this) {
    m_Hub.ports.subscribe(&m_Ports);
    m_Hub.configuration.subscribe(&m_Configuration);
}

PortMonitor::~PortMonitor() {
    m_Hub.ports.unsubscribe(&m_Ports);
    m_Hub.configuration.unsubscribe(&m_Configuration);
}

void PortMonitor::Handle(const SimEvent& event) {
    switch (event.kind) {
        case EventKind::PortAdded: {
            LONG number = 0;
            unsigned short* name = nullptr;
            m_Selector.GetPortNumber(event.first, &number);
            m_Selector.GetPortName(event.first, 0, &name);
            Note(PortText(event.first) + " added: number " + std::to_string(number) + ", \"" +
                 Narrow(name) + "\"");
            CoTaskMemFree(name);
            return;
        }
        case EventKind::PortRemoved: {
            auto held = std::find(m_Reserved.begin(), m_Reserved.end(), event.first);
            if (held == m_Reserved.end()) {
                Note(PortText(event.first) + " removed");
                return;
            }
            m_Reserved.erase(held);
            Raise(KES_E_INVALID_STATE,
                  "Port " + std::to_string(event.first) + " was removed while it was reserved",
                  __LINE__);
            return;
        }
        case EventKind::PortReserved:
            m_Reserved.push_back(event.first);
            Note(PortText(event.first) + " reserved by session " + std::to_string(event.second));
            return;
        case EventKind::PortReleased:
            m_Reserved.erase(std::remove(m_Reserved.begin(), m_Reserved.end(), event.first),
                             m_Reserved.end());
            Note(PortText(event.first) + " released");
            return;
        case EventKind::PortMappingChanged:
            Note("port mapping changed");
            return;
        case EventKind::PortModeChanged:
            Note("port mode changed to " + std::to_string(event.first));
            return;
        case EventKind::ConfigReadOnlyChanged:
            Note(std::string("configuration file ") +
                 (event.first != 0 ? "made read-only" : "made writable"));
            return;
        case EventKind::ConfigurationChanged: {
            LONG count = 0;
            LONG* ports = nullptr;
            if (m_Selector.ListPorts(&count, &ports) == S_OK) {
                LONG dummies = 0;
                for (LONG i = 0; i < count; ++i)
                    dummies += m_Selector.IsDummyPort(ports[i]) ? 1 : 0;
                Note("configuration now " + std::to_string(count) + " ports (" +
                     std::to_string(dummies) + " dummy)");
            }
            CoTaskMemFree(ports);
            return;
        }
        default:
            return;
    }
}

// ---- Test watcher ---------------------------------------------------------------------

TestWatcher::TestWatcher(EventHub& hub)
    : Component("test watcher"), m_Hub(hub), m_Test(*this), m_Session(*this) {
    m_Hub.test.subscribe(&m_Test);
    m_Hub.session.subscribe(&m_Session);
}

TestWatcher::~TestWatcher() {
    m_Hub.test.unsubscribe(&m_Test);
    m_Hub.session.unsubscribe(&m_Session);
}

void TestWatcher::Handle(const SimEvent& event) {
    switch (event.kind) {
        case EventKind::TestStateChanged: {
            std::string line = std::string("test ") + TestStateName(event.first);
            if (event.first == DovTestRunning) {
                LONG start = 0;
                m_Controller.GetStartTime(&start);
                line += ", start time " + std::to_string(start) + " (seconds since 2000)";
            }
            if (event.first == DovTestStopped || event.first == DovTestAborted) {
                LONG elapsed = 0;
                m_Controller.GetElapsedTime(&elapsed);
                line += " after " + std::to_string(elapsed) + " s";
                ++m_TestsEnded;
            }
            Note(line);
            // Resetting the clock of a test that has ended is refused by the
            // controller; a component that tries anyway raises the failure.
            if (event.first == DovTestStopped && m_Controller.CanResetTimestamps() != S_OK) {
                LONG hr = m_Controller.ResetTimestamps();
                if (FAILED(hr))
                    Raise(hr, "Timestamps of a stopped test cannot be reset", __LINE__);
            }
            return;
        }
        case EventKind::TestModeChanged:
            Note("test mode " + std::to_string(event.first));
            return;
        case EventKind::TimestampsReset:
            Note("timestamps reset, new start " + std::to_string(event.first));
            return;
        case EventKind::SessionSuspended:
            Note("session " + std::to_string(event.first) + " suspended");
            return;
        case EventKind::SessionResumed:
            Note("session " + std::to_string(event.first) + " resumed");
            return;
        case EventKind::SessionClosing:
            Note("session " + std::to_string(event.first) + " closing");
            return;
        default:
            return;
    }
}

void TestWatcher::End() {
    Note(std::to_string(m_TestsEnded) + " test(s) ended");
}

// ---- Auditor --------------------------------------------------------------------------

Auditor::Auditor(EventHub& hub)
    : Component("auditor"), m_Hub(hub), m_Ports(*this), m_Test(*this), m_Session(*this) {
    m_Hub.ports.subscribe(&m_Ports);
    m_Hub.test.subscribe(&m_Test);
    m_Hub.session.subscribe(&m_Session);
}

Auditor::~Auditor() {
    m_Hub.ports.unsubscribe(&m_Ports);
    m_Hub.test.unsubscribe(&m_Test);
    m_Hub.session.unsubscribe(&m_Session);
}

void Auditor::Handle(const SimEvent&) {}

}  // namespace kessim
