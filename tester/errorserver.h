// The simulated error-message server.
//
// It answers IDovErrorLookup::LookupMessage for every code: the library's own
// codes and the common COM and Win32-derived codes get their standard text,
// any other code a generic one naming it. Every text ends with "\r\n", as
// message-table texts do, so a caller's own text appended to it starts on a
// line of its own.
//
// `tester::RegisterErrorServer()` makes the server's class object
// (CLSID_DovErrorLookup) available to CoCreateInstance in the whole process,
// until `tester::RevokeErrorServer()`. Both are counted: the class object is
// registered on the first call and revoked on the matching last one. They need
// COM on the calling thread; any thread that has entered COM can then create
// the server. The server keeps no state and may be used from any thread.
#pragma once

#include <host/types.h>
#include <tester/export.h>
#include <tester/interfaces.h>

#include <string>

namespace tester {

// Registers the class object for the process; S_OK, or the failure of
// CoRegisterClassObject (CO_E_NOTINITIALIZED outside COM).
TESTER_API HRESULT RegisterErrorServer();

// Undoes one successful RegisterErrorServer.
TESTER_API void RevokeErrorServer();

// The standard message for `code`, as LookupMessage returns it (UTF-8).
TESTER_API std::string StandardMessage(LONG code);

// A new error-message server object with one reference, owned by the caller.
TESTER_API IDovErrorLookup* CreateErrorServer();

}  // namespace tester
