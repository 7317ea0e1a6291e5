// OLE automation strings (BSTR): length-prefixed UTF-16 text that crosses COM
// interfaces.
//
// Layout of one allocation:
//
//     [ 4-byte mark ][ 4-byte byte count ][ text: byte-count bytes ][ 0x00 0x00 (+1) ]
//                                          ^ the BSTR points here
//
// The byte count (native byte order) sits in the 4 bytes just before the
// text, as COM lays it out; the text may hold embedded zero units, and its
// length comes from the count, never from a scan. After the text come two
// zero bytes, and one more when the byte count is odd, so that the first whole
// code unit after the text is a zero terminator and a BSTR can always be read
// as a terminated wide string. The mark in front keeps the text 8-byte aligned
// and lets SysFreeString catch a pointer that is not a BSTR.
//
// A null BSTR is a valid string: empty, length 0, and freeing it does nothing.
// The byte count is 32 bits, so no BSTR holds more than 0xFFFFFFFF bytes
// (0x7FFFFFFF code units); longer requests fail with null, as does running out
// of memory. A BSTR is owned by whoever holds it last and freed with
// SysFreeString, never with free() or CoTaskMemFree. All functions are
// thread-safe and need no COM initialisation; one BSTR must not be
// reallocated by one thread while another uses it.
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// A copy of the terminated `text`, or null for a null `text` (an empty `text`
// gives a non-null, empty BSTR). Null on exhaustion or overlong text.
HOST_API BSTR SysAllocString(const OLECHAR* text);

// A BSTR of exactly `length` code units: the first `length` units of `text`
// (zeros included), or all zeros when `text` is null. Null on exhaustion or
// when `length` exceeds 0x7FFFFFFF.
HOST_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);

// A BSTR of exactly `length` bytes (odd counts allowed): the first `length`
// bytes of `bytes`, or all zeros when `bytes` is null. Null on exhaustion.
HOST_API BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length);

// Replaces `*target` with a copy of the terminated `text` and frees the old
// string; a null `text` leaves `*target` null. `text` may point into the old
// string. Returns TRUE; FALSE for a null `target` or on exhaustion, with
// `*target` unchanged.
HOST_API int SysReAllocString(BSTR* target, const OLECHAR* text);

// Replaces `*target` with a BSTR of exactly `length` units copied from `text`
// and frees the old string. With a null `text` the old contents are kept up
// to `length` units and the rest is zeros (growing or shrinking a string in
// place, as far as the caller can tell). `text` may point into the old string.
// Returns TRUE; FALSE for a null `target`, on exhaustion or when `length`
// exceeds 0x7FFFFFFF, with `*target` unchanged.
HOST_API int SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);

// The length in code units (the byte count halved, rounded down); 0 for null.
HOST_API UINT SysStringLen(BSTR text);

// The length in bytes, terminator excluded; 0 for null.
HOST_API UINT SysStringByteLen(BSTR text);

// Frees a BSTR; null does nothing. Aborts with a message when `text` is not a
// BSTR from these functions (a literal, a task-allocator block, a BSTR
// already freed, if its memory has not been reused).
HOST_API void SysFreeString(BSTR text);

}  // extern "C"
