// CKesSemaphore: a lockable over a host counting semaphore.
//
// LockWrite takes one unit, waiting without limit while the count is 0;
// UnlockWrite gives one back. It has no owner: any thread may release, and a
// thread that already took a unit takes another (or blocks) when it locks
// again. With a maximum of 1 it is a non-re-entrant lock; with more it admits
// that many holders at once. The conversion to void* gives the handle for the
// host's own wait functions.
//
// Not copyable: each object owns its kernel object and closes it once.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/sync/keslock.h>

class KES_API CKesSemaphore : public ILockable {
  public:
    // A semaphore counting up to theMaximum, starting at theInitial, or full
    // (theMaximum) when theInitial is negative. Throws
    // CKesException(KES_E_SYNC_OBJECT) when the host refuses, e.g. for a
    // maximum below 1 or an initial count above the maximum.
    CKesSemaphore(LONG theMaximum, LONG theInitial);
    // Closes the handle; never throws.
    ~CKesSemaphore() override;
    CKesSemaphore(const CKesSemaphore&) = delete;
    CKesSemaphore& operator=(const CKesSemaphore&) = delete;

    // Takes one unit, waiting without limit; the wait's result is not examined.
    void LockWrite() const override;
    // Release(1), through the virtual table.
    void UnlockWrite() const override;
    // Adds theCount units. Throws CKesException(KES_E_SYNC_OBJECT), leaving the
    // count unchanged, when the maximum would be exceeded or theCount < 1.
    virtual void Release(LONG theCount) const;

    operator void*() const { return myHandle; }

  private:
    void* myHandle;  // the kernel semaphore; set once by the constructor
};
