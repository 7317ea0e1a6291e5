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
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <tester/interfaces.h>

class KES_API CKesTestSession {
  public:
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
};
