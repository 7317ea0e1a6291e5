// Kernel synchronisation objects: mutexes, semaphores and events behind
// HANDLE values, the waits on them, and CloseHandle.
//
// Objects. Each Create function returns a new handle (or null, with the
// reason in GetLastError) to a reference-counted object; the object lives
// until its last handle is closed and no wait on it is in progress. Any
// thread may use any handle. A handle value that is not open (closed, never
// issued, garbage) is refused with ERROR_INVALID_HANDLE and never
// dereferenced.
//
//  - Mutex: owned by one thread at a time, re-entrant for its owner (each
//    successful wait must be matched by one ReleaseMutex). Ownership belongs
//    to the thread. When the owner ends without releasing, the mutex is
//    abandoned: the next thread to get it is told WAIT_ABANDONED (0x80) and
//    owns it; the data it guarded may be inconsistent. A thread stopped by
//    force abandons its mutexes only once its stopper has cleaned up after it.
//  - Semaphore: a count between 0 and a maximum; a wait takes one unit, and
//    any thread may add units with ReleaseSemaphore.
//  - Event: signalled or not. A manual-reset event stays signalled until
//    ResetEvent and releases every waiter meanwhile; an auto-reset event
//    releases exactly one waiter per signal and resets itself. Signals do not
//    count: SetEvent on a signalled event does nothing.
//
// Waits. WaitForSingleObject and WaitForMultipleObjects block for at most the
// given milliseconds (INFINITE: no limit; 0: test and return at once),
// measured on the monotonic clock. Only the object that satisfies a wait is
// consumed: a semaphore loses one unit, an auto-reset event resets, a mutex
// becomes owned. Results: WAIT_OBJECT_0 (+ index), WAIT_ABANDONED_0
// (+ index), WAIT_TIMEOUT, WAIT_FAILED with the last error set. Waiters of
// one object are served in arrival order. Closing a handle while another
// thread waits on its object is allowed: the wait goes on (on an object that
// no one else can now signal through that handle).
//
// Names. A non-null, non-empty name makes the object findable by that name
// within this process: creating with a name already in use by an object of
// the same kind returns a new handle to that object and sets
// ERROR_ALREADY_EXISTS (the counts, owner flag and initial state passed are
// then ignored); a name used by an object of another kind fails with
// ERROR_INVALID_HANDLE. A name is forgotten when its object is destroyed.
// Names are case-sensitive and not shared with other processes. On fresh
// creation the last error is set to 0. Security attributes are accepted and
// ignored.
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// ---- Mutex ----------------------------------------------------------------------

// A new mutex, owned by the calling thread (recursion count 1) when
// `initialOwner` is true, else unowned.
HOST_API HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);

// Gives up one hold of the mutex. FALSE with ERROR_NOT_OWNER when the calling
// thread does not own it; ERROR_INVALID_HANDLE for a handle that is not a mutex.
HOST_API BOOL ReleaseMutex(HANDLE mutex);

// ---- Semaphore -----------------------------------------------------------------

// A new semaphore with count `initialCount`. Requires maximumCount > 0 and
// 0 <= initialCount <= maximumCount, else null with ERROR_INVALID_PARAMETER.
HOST_API HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initialCount,
                                 LONG maximumCount, LPCWSTR name);

// Adds `releaseCount` (> 0, else ERROR_INVALID_PARAMETER) to the count. When
// the maximum would be exceeded it fails with ERROR_TOO_MANY_POSTS and the
// count is unchanged. `previousCount`, when not null, receives the count
// before the release on success and is left untouched on failure.
HOST_API BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount);

// ---- Event ----------------------------------------------------------------------

// A new event, manual-reset when `manualReset` is true, signalled when
// `initialState` is true.
HOST_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                             LPCWSTR name);

// Signals the event: a manual-reset event releases all its waiters and stays
// signalled; an auto-reset event releases one waiter, or stays signalled
// until one comes.
HOST_API BOOL SetEvent(HANDLE event);

// Makes the event non-signalled.
HOST_API BOOL ResetEvent(HANDLE event);

// Releases the threads waiting on the event at this moment, all of them for a
// manual-reset event and at most one for an auto-reset event, and leaves the
// event non-signalled. With no waiter it only resets the event. A thread in a
// wait-all wait is not released by a pulse (its other objects are not
// checked at the pulse's instant).
HOST_API BOOL PulseEvent(HANDLE event);

// ---- Waits and handles ----------------------------------------------------------

// Waits until the object is signalled (and consumes it) or `milliseconds`
// pass. Returns WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED
// (ERROR_INVALID_HANDLE).
HOST_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Waits for `count` (1..MAXIMUM_WAIT_OBJECTS) distinct objects.
// `waitAll` false: returns WAIT_OBJECT_0 + i (or WAIT_ABANDONED_0 + i) for the
// lowest index i signalled when the wait is satisfied; only that object is
// consumed. `waitAll` true: returns when every object is signalled at the same
// moment and consumes all of them together; until then none is consumed; a
// result below WAIT_ABANDONED_0 + count means "all signalled" (with an
// abandoned mutex among them for the WAIT_ABANDONED_0 range). WAIT_FAILED:
// ERROR_INVALID_PARAMETER for a count of 0 or above 64, a null array or a
// handle given twice; ERROR_INVALID_HANDLE for a handle that is not open.
HOST_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                      DWORD milliseconds);

// Closes a handle to any kernel object. FALSE with ERROR_INVALID_HANDLE when
// the handle is not open; a second close of the same handle fails that way.
HOST_API BOOL CloseHandle(HANDLE handle);

}  // extern "C"
