// The host's event log: event sources and the records written through them.
//
// A caller opens a source by name (`RegisterEventSourceW`), writes records
// through the handle (`ReportEventW`) and closes it (`DeregisterEventSource`).
// Opening a source is cheap and touches no file: the store behind it is one
// SQLite database, `eventlog.db` in the store directory (host/store.h), opened
// once per process on the first record and kept open. Every record is
// committed before `ReportEventW` returns, so a process that ends at once
// afterwards (`TerminateProcess`) keeps it. docs/eventlog.md describes the
// table that operators read.
//
// Threads: every function may be called from any thread, and any number of
// threads and processes may write at once; records are never lost to a race.
// A handle may be shared between threads. Handle values are never reused
// within a process, so a write through a handle that another thread has just
// closed fails with ERROR_INVALID_HANDLE instead of reaching freed memory or
// another source.
//
// Failure: a store that cannot be opened or written makes `ReportEventW`
// return FALSE after at most about two seconds (while another writer holds the
// store, writers queue for that long); the record is dropped and nothing else
// is disturbed.
#pragma once

#include <host/export.h>
#include <host/types.h>

// The error for a named (remote) event-log server: none is reachable here.
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

// The longest insertion string, in UTF-16 code units, that a record takes.
constexpr DWORD EVENTLOG_MAX_STRING_LENGTH = 31839;
// The largest raw data block, in bytes, that a record takes.
constexpr DWORD EVENTLOG_MAX_DATA_SIZE = 61440;

extern "C" {

// Opens the event source `source` on the local machine.
//
// `server` must be null or empty (the local machine); any other name gives
// NULL with RPC_S_SERVER_UNAVAILABLE. A null or empty `source` gives NULL with
// ERROR_INVALID_PARAMETER; the reserved source "Security" (in any case) gives
// NULL with ERROR_ACCESS_DENIED. Any other name is accepted without prior
// registration. The handle must be closed with `DeregisterEventSource`.
HOST_API HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source);

// Closes a handle from `RegisterEventSourceW`. Returns TRUE, or FALSE with
// ERROR_INVALID_HANDLE for anything else (including a handle already closed).
HOST_API BOOL DeregisterEventSource(HANDLE eventLog);

// Writes one record under the handle's source and returns TRUE once it is
// committed to the store.
//
// `type` (EVENTLOG_*), `category` and `eventId` are stored as given; `userSid`
// is accepted and ignored (the store records no user). `strings` holds
// `numStrings` terminated UTF-16 strings (stored as UTF-8, ill-formed units
// as U+FFFD), `rawData` holds `dataSize` bytes. On failure it returns FALSE,
// writes nothing and sets the last error:
// - ERROR_INVALID_HANDLE: `eventLog` is not an open source handle;
// - ERROR_INVALID_PARAMETER: `numStrings` > 0 with null `strings` or a null
//   string among them, a string longer than EVENTLOG_MAX_STRING_LENGTH units
//   (rejected whole rather than cut, so no record is silently altered), or
//   `dataSize` > 0 with null `rawData`;
// - RPC_S_INVALID_BOUND: `dataSize` > EVENTLOG_MAX_DATA_SIZE;
// - ERROR_CANTOPEN: the store cannot be opened (no store directory, not a
//   database, no right to write);
// - ERROR_CANTWRITE: the write failed, or other writers held the store for
//   longer than the write budget of about two seconds;
// - ERROR_NOT_ENOUGH_MEMORY.
HOST_API BOOL ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                           WORD numStrings, DWORD dataSize, LPCWSTR* strings, LPVOID rawData);

}  // extern "C"
