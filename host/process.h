// The current process: its identity and its immediate end.
//
// Only the current process can be named: `GetCurrentProcess` returns the
// pseudo handle (HANDLE)-1, which needs no closing and means "the calling
// process" wherever it is passed. `TerminateProcess` on it ends the process at
// once, the way a fatal error must: no exit handlers, no static destructors,
// no flushing of stdio buffers, and other threads stop where they are. Data
// that must survive has to be committed before the call (the event log
// commits each record before `ReportEventW` returns).
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// The pseudo handle of the calling process, (HANDLE)-1.
HOST_API HANDLE GetCurrentProcess();

// The calling process's id (its Linux pid).
HOST_API DWORD GetCurrentProcessId();

// Ends the process named by `process` with `exitCode`. Only the current
// process's pseudo handle is accepted; it does not return then, and the exit
// status is the low 8 bits of `exitCode` as Linux reports it (0xFFFFFFFF
// gives 255). Any other handle: FALSE with ERROR_INVALID_HANDLE.
HOST_API BOOL TerminateProcess(HANDLE process, UINT exitCode);

// Asks the host not to notify a library of thread start and end. Such
// notifications do not exist here, so this only returns TRUE.
HOST_API BOOL DisableThreadLibraryCalls(HANDLE module);

}  // extern "C"
