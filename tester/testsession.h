// The simulated test session and its session manager.
//
// `tester::TestSession` stands for the tester's running test session: it has
// a settable session number and answers GetSessionObject("DovSessionManager")
// with its `tester::SessionManager`. The manager keeps every fatal error
// reported to it (session number and text) for tests to read, and writes each
// one to the event log under the source "TesterSessionManager" before it
// returns, so that a report made just before the process ended can still be
// read afterwards with keslog.
//
// The session also fires IIntTestSessionGuardEvents through its
// IConnectionPointContainer when code tells it that the session is closing,
// suspended or resumed; the events run on the caller's thread, with no lock
// of the session held.
//
// Both are COM objects (reference counted, free-threaded): create them with
// `host::make_com<tester::TestSession>()`. All members may be called from any
// thread.
#pragma once

#include <host/comptr.h>
#include <host/connpt.h>
#include <host/types.h>
#include <tester/export.h>
#include <tester/interfaces.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace tester {

// One fatal error as the session manager received it.
struct FatalReport {
    LONG session;
    host::wstring text;
};

class TESTER_API SessionManager : public host::ComObject<IDovSessionManager> {
  public:
    SessionManager() = default;

    HRESULT ReportFatalError(LONG sessionNumber, BSTR text) override;

    // Every report received so far, oldest first.
    std::vector<FatalReport> Reports() const;

  private:
    mutable std::mutex m_lock;
    std::vector<FatalReport> m_reports;  // guarded by m_lock
};

class TESTER_API TestSession : public host::ComObject<IDovTestSession, IConnectionPointContainer> {
  public:
    explicit TestSession(LONG sessionNumber = 1);

    HRESULT GetSessionNumber(LONG* number) override;
    HRESULT GetSessionObject(BSTR name, IUnknown** object) override;

    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // Fire OnSessionClosing, OnSessionSuspended or OnSessionResumed with the
    // session's number at every guard-events sink; return how many were called.
    std::size_t FireClosing();
    std::size_t FireSuspended();
    std::size_t FireResumed();
    // Guard-events sinks now connected.
    std::size_t GuardSinkCount() const { return m_GuardEvents.ConnectionCount(); }
    // Drops every guard-events sink (for shutdown, when sinks hold the session).
    void DisconnectAllSinks() { m_GuardEvents.DisconnectAll(); }

    void SetSessionNumber(LONG number);
    // The manager this session hands out (no reference added).
    SessionManager* Manager() const { return m_manager.get(); }

  private:
    mutable std::mutex m_lock;
    LONG m_number;  // guarded by m_lock
    host::ComPtr<SessionManager> m_manager;
    host::ConnectionPoint<IIntTestSessionGuardEvents> m_GuardEvents;
};

}  // namespace tester
