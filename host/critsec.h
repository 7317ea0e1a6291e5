// The critical section: a re-entrant lock for the threads of one process,
// embedded by value in the structure it guards.
//
// States: free, or owned by one thread with a recursion count >= 1. The owner
// may enter again without blocking; each Enter (and each successful
// TryEnter) must be matched by one Leave from the same thread, and the last
// Leave frees it. There is no fairness: a thread that leaves and enters again
// at once may overtake the waiters.
//
// Cost: entering a free section is one compare-and-swap, leaving it without
// waiters one atomic exchange; no system call. A contended Enter spins
// briefly, then sleeps on a futex.
//
// Lifetime: InitializeCriticalSection before first use (an all-zero section
// is also a valid free one, so a static one needs no initialisation);
// DeleteCriticalSection after last use, when no thread owns it or waits for
// it (deleting one in use leaves its waiters blocked for ever). It must not
// be copied or moved while in use; the type is not copyable.
//
// Faults the section stands up to: a Leave by a thread that does not own it
// (or of a free section) is ignored, so a stray Leave can neither free another
// thread's lock nor corrupt the count. A thread that ends, or is stopped,
// while owning a section leaves it owned for ever: unlike a mutex it has no
// notion of abandonment.
#pragma once

#include <host/export.h>
#include <host/types.h>

#include <atomic>
#include <cstdint>

// Callers treat the fields as opaque; only the functions below touch them.
struct CRITICAL_SECTION {
    std::atomic<std::uint32_t> LockWord;  // 0 free, 1 owned, 2 owned with sleepers (futex)
    std::atomic<DWORD> OwningThread;      // the owner's thread id, 0 when free
    LONG RecursionCount;                  // the owner's holds; touched by the owner only
    DWORD Reserved;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

extern "C" {

// Makes `section` free. Never fails.
HOST_API void InitializeCriticalSection(LPCRITICAL_SECTION section);

// Waits, without limit, until `section` is free or owned by the caller, then
// takes one hold.
HOST_API void EnterCriticalSection(LPCRITICAL_SECTION section);

// Takes one hold when that needs no waiting (free, or owned by the caller) and
// returns TRUE; otherwise returns FALSE at once.
HOST_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);

// Gives up one hold; the last one frees the section and wakes one waiter.
// Ignored when the caller does not own the section.
HOST_API void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Ends the section's life. It holds no resources, so this only marks it free.
HOST_API void DeleteCriticalSection(LPCRITICAL_SECTION section);

}  // extern "C"
