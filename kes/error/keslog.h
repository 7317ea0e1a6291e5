// Records in the host's event log.
//
// Every record of the process appears under the event source "Quenlix" and
// carries the process-wide event category (0 until `KesSetEventCategory`).
// The raw `KesLogEvent` and its typed shortcuts write the caller's insertion
// strings and raw data as given; the stream overload writes one text, prefixed
// with "Session <n>: " when the process's test session was known when error
// reporting first started, and echoes it on the console (trace pattern
// "errors"). Event identifiers keep only their low 16 bits.
//
// Any thread may log at any time; nothing here throws, blocks for long or
// reports its own failure: a record the event log cannot take is dropped.
// The two `KesLogDebug` entry points exist for callers that emit debug
// output and do nothing.
#pragma once

#include <host/types.h>
#include <kes/export.h>

#include <ostream>

// Writes one record of `type` (EVENTLOG_ERROR_TYPE, _WARNING_TYPE,
// _INFORMATION_TYPE) with `stringCount` insertion strings and `dataSize`
// bytes of raw data, both owned by the caller.
KES_API void KesLogEvent(DWORD eventId, unsigned short type, unsigned short stringCount,
                         const unsigned short** strings, DWORD dataSize, const void* data);

// KesLogEvent with type EVENTLOG_INFORMATION_TYPE, _WARNING_TYPE, _ERROR_TYPE.
KES_API void KesLogInfo(DWORD eventId, unsigned short stringCount, const unsigned short** strings,
                        DWORD dataSize, const void* data);
KES_API void KesLogWarning(DWORD eventId, unsigned short stringCount,
                           const unsigned short** strings, DWORD dataSize, const void* data);
KES_API void KesLogError(DWORD eventId, unsigned short stringCount, const unsigned short** strings,
                         DWORD dataSize, const void* data);

// Writes the text of `stream` (from KesMakeErrorStream; destroyed here) as
// one record of `type` with event identifier 0, after echoing it on the
// console. The console gets the whole text; the record keeps its first
// EVENTLOG_MAX_STRING_LENGTH UTF-16 units, as the event log takes no longer
// string.
KES_API void KesLogEvent(unsigned short type, std::ostream& stream);

// Sets the category of every later record of the process, from any thread.
KES_API void KesSetEventCategory(unsigned short category);

// No effect; the arguments are not read.
KES_API void KesLogDebug(const unsigned short* format, ...);
KES_API void KesLogDebug(LONG level, const unsigned short* format, ...);
