// CKesHandleBase: process-wide unique handles for objects that clients refer
// to by number.
//
// Handles are the positive 32-bit numbers 1 to 0x7FFFFFFF, handed out in
// increasing order, each once per process; 0 is never handed out. A caller
// that restores handles from elsewhere (kept from an earlier run, say)
// reserves them first, so that they are never handed out again.
//
//  - GetHandle: the next handle; once 0x7FFFFFFF has been handed out the
//    allocator is exhausted and every further call fails with
//    KES_E_OUT_OF_HANDLES (0x80040206), raised with the text
//    "The system has run out of handles".
//  - ReserveHandle(h): the next handle becomes h + 1 when it is not already
//    beyond h; a handle below the next one, 0 or a negative number changes
//    nothing. Reserving 0x7FFFFFFF exhausts the allocator. Reservations
//    never revive an exhausted allocator (it would hand out handles again).
//
// Any thread may call either function; the test for exhaustion, the hand-out
// and the advance are one step under the allocator's lock, so no two callers
// ever receive the same handle. The lock is built when the library is loaded.
#pragma once

#include <host/types.h>
#include <kes/export.h>

class KES_API CKesHandleBase {
  public:
    // 0 with *pHandle set to a new handle; KES_E_OUT_OF_HANDLES when none is
    // left (*pHandle untouched). A null pHandle is reported as an assertion
    // and answered with E_POINTER; no handle is used up.
    static LONG GetHandle(LONG* pHandle);
    // Makes sure `handle` is never handed out; always 0.
    static LONG ReserveHandle(LONG handle);
};
