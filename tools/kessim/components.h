// The simulator's components: plug-in-like workers, each on its own
// CKesThread, that follow the tester through the event hub's notifiers.
//
// Observers are called on the thread that fired the event, with the
// notifier's lock held, so they do nothing but queue the event and wake the
// worker; the worker then talks to the tester through its own proxies. A
// Wakeup that lands before the worker sleeps is not remembered, so the
// worker never sleeps longer than a short poll interval: an event is at
// worst handled one interval late, never lost.
#pragma once

#include "events.h"

#include <host/types.h>
#include <kes/application/kesportselector.h>
#include <kes/application/kestestcontroller.h>
#include <kes/observer/kesobserverab.h>
#include <kes/sync/kescriticalsection.h>
#include <kes/thread/kesthread.h>

#include <array>
#include <deque>
#include <string>
#include <vector>

namespace kessim {

class Component;

// Hands each notification of one notifier to a component's queue.
class EventObserver : public CKesObserverB<SimEvent> {
  public:
    explicit EventObserver(Component& owner) : m_Owner(owner) {}
    ~EventObserver() override { reset(); }

  protected:
    void doCall(const void* theData) override;

  private:
    Component& m_Owner;
};

// The gated configuration notifier carries no data: each call becomes a
// ConfigurationChanged event.
class ConfigurationObserver : public CKesObserverB<CKesNothing> {
  public:
    explicit ConfigurationObserver(Component& owner) : m_Owner(owner) {}
    ~ConfigurationObserver() override { reset(); }

  protected:
    void doCall(const void* theData) override;

  private:
    Component& m_Owner;
};

class Component : public IRunnable {
  public:
    explicit Component(const char* name);
    virtual ~Component();
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    const std::string& Name() const { return m_Name; }

    // Starts the worker at `priority` (a CKesThread priority).
    void Start(int priority);
    // Asks the worker to finish what is queued and end, and waits for it.
    void Finish();

    // Called by observers on the firing thread.
    void Post(const SimEvent& event);

    // What the worker did, one line per noteworthy step, and counts of the
    // events it handled; read them after Finish.
    const std::vector<std::string>& Notes() const { return m_Notes; }
    LONG Handled(EventKind kind) const;
    LONG Handled() const;
    LONG ErrorsRaised() const { return m_ErrorsRaised; }

  protected:
    // On the worker, with COM entered and before the first event.
    virtual void Begin() {}
    // On the worker, once per event, in the order they were posted.
    virtual void Handle(const SimEvent& event) = 0;
    // On the worker, after the last event.
    virtual void End() {}

    void Note(const std::string& line) { m_Notes.push_back(line); }
    // Raises `code` with `text` from this component, counted for the report.
    void Raise(LONG code, const std::string& text, int line);

  private:
    void Run() override;
    bool Next(SimEvent& event, bool& finish);

    std::string m_Name;
    CKesThread m_Thread;
    CKesCriticalSection m_Lock;
    std::deque<SimEvent> m_Queue;                    // guarded by m_Lock
    bool m_Finish = false;                           // guarded by m_Lock
    std::vector<std::string> m_Notes;                // worker only until Finish
    std::array<LONG, EVENT_KIND_COUNT> m_Handled{};  // worker only until Finish
    LONG m_ErrorsRaised = 0;                         // worker only until Finish
};

// Follows the port selector: names ports that come and go, lists the
// configuration each time it settles (through the gated notifier, so not
// while the session is suspended), and raises an error for a port that left
// while it was reserved.
class PortMonitor : public Component {
  public:
    explicit PortMonitor(EventHub& hub);
    ~PortMonitor() override;

  protected:
    void Handle(const SimEvent& event) override;

  private:
    EventHub& m_Hub;
    EventObserver m_Ports;
    ConfigurationObserver m_Configuration;
    CKesPortSelector m_Selector;   // worker only; binds at its first use
    std::vector<LONG> m_Reserved;  // worker only
};

// Follows the test controller and the session: reports each state, the
// start time and the elapsed time, and tries to reset the timestamps of a
// stopped test, which the controller refuses (the error is raised).
class TestWatcher : public Component {
  public:
    explicit TestWatcher(EventHub& hub);
    ~TestWatcher() override;

  protected:
    void Handle(const SimEvent& event) override;
    void End() override;

  private:
    EventHub& m_Hub;
    EventObserver m_Test;
    EventObserver m_Session;
    CKesTestController m_Controller;  // worker only; binds at its first use
    int m_TestsEnded = 0;             // worker only
};

// Counts every notification of every notifier at a low priority; the report
// checks its counts against the events the bridge received.
class Auditor : public Component {
  public:
    explicit Auditor(EventHub& hub);
    ~Auditor() override;

  protected:
    void Handle(const SimEvent& event) override;

  private:
    EventHub& m_Hub;
    EventObserver m_Ports;
    EventObserver m_Test;
    EventObserver m_Session;
};

// The text for a test state ("running").
const char* TestStateName(LONG state);

}  // namespace kessim
