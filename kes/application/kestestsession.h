// The process's recorded test session.
//
// A component that runs inside a test session records the session's
// IDovTestSession pointer once (`Record`) and removes it before the session
// goes away (`Remove`). The record holds no reference: the recording
// component keeps the session alive meanwhile. Error reporting reads it to
// prefix reports with the session number and to tell the session's manager of
// fatal errors.
//
// No lock guards the record: `Record` and `Remove` must run while no other
// thread reads it (at start-up and shut-down); `GetTestSession` may then be
// called from any thread.
//
// An object of the class subscribes one client to the recorded session's
// guard events (IIntTestSessionGuardEvents) and keeps that subscription's
// cookie; several objects hold separate subscriptions to the same session.
// The destructor does nothing: it neither checks nor ends a live
// subscription, so unsubscribe first. One object is used by one thread at a
// time.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <tester/interfaces.h>

class KES_API CKesTestSession {
  public:
    // Not subscribed.
    CKesTestSession();

    // Subscribes `client` to the recorded session's guard events: 0, or the
    // failure (no cookie stored). Reports "m_pTestSession != NULL" and returns
    // E_NOINTERFACE without any call when no session is recorded; reports a
    // null `client` ("client != NULL") and goes on.
    LONG AdviseOnGuardEvents(IIntTestSessionGuardEvents* client);

    // Ends this object's subscription: 0, or the failure (the cookie is
    // kept). Reports "m_pTestSession != NULL" and returns E_NOINTERFACE
    // without any call when no session is recorded; unsubscribed, reports
    // "m_ClientCookie != 0" and passes cookie 0 on.
    LONG UnadviseOnGuardEvents();

    // Records `pi` without taking a reference, replacing an earlier record.
    // A null `pi` fails the assertion "pi != 0" and leaves no session recorded.
    // Always S_OK.
    static LONG Record(IDovTestSession* pi);

    // Forgets the recorded session without releasing it. Always S_OK.
    static LONG Remove();

    // Writes the recorded session (or null) to `*out`, without adding a
    // reference. Always S_OK.
    static LONG GetTestSession(void** out);

    // The recorded session, null while none is recorded.
    static IDovTestSession* m_pTestSession;

  private:
    DWORD m_ClientCookie;  // this object's guard-events subscription; 0: none
};
