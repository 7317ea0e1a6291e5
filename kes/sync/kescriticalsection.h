// CKesCriticalSection: the library's standard member lock, a lockable over a
// host critical section.
//
// Re-entrant for the thread that holds it: each Enter (LockWrite) must be
// matched by one Leave (UnlockWrite) on the same thread. It never throws. A
// Leave by a thread that does not hold it is ignored. Cheap: entering a free
// section is one atomic compare-and-swap with no system call, so it is meant
// to be taken through CKesLock around short member sections.
//
// Destroying it while a thread holds or waits for it is a caller error. Not
// copyable: the section is tied to its address.
#pragma once

#include <host/critsec.h>
#include <kes/export.h>
#include <kes/sync/keslock.h>

class KES_API CKesCriticalSection : public ILockable {
  public:
    CKesCriticalSection();
    ~CKesCriticalSection() override;
    CKesCriticalSection(const CKesCriticalSection&) = delete;
    CKesCriticalSection& operator=(const CKesCriticalSection&) = delete;

    // Enter(): blocks until the section is free or held by the caller.
    void LockWrite() const override;
    // Leave().
    void UnlockWrite() const override;

    // Not virtual, and inline so that a direct caller pays one call into the
    // host.
    void Enter() const { EnterCriticalSection(&myCriticalSection); }
    void Leave() const { LeaveCriticalSection(&myCriticalSection); }

  private:
    // The host's record; mutable because locking is a const operation.
    mutable CRITICAL_SECTION myCriticalSection;
};
