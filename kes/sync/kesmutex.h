// CKesMutex: a lockable over a host mutex kernel object.
//
// Owned by the thread that locked it and re-entrant for that thread: each
// LockWrite must be matched by one UnlockWrite (or Release) on the same
// thread. Only the owner can release it; a release by any other thread fails
// and throws CKesException(KES_E_SYNC_OBJECT), which a scoped lock's
// destructor swallows. When the owner thread ends while holding it, the next
// locker gets it (the host reports the abandonment, which LockWrite does not
// look at). The conversion to void* gives the handle for the host's own wait
// functions.
//
// Not copyable: each object owns its kernel object and closes it once.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/sync/keslock.h>

class KES_API CKesMutex : public ILockable {
  public:
    // Creates an unowned mutex. Throws CKesException(KES_E_SYNC_OBJECT) when
    // the host refuses; nothing is left open then.
    CKesMutex();
    // Closes the handle; never throws.
    ~CKesMutex() override;
    CKesMutex(const CKesMutex&) = delete;
    CKesMutex& operator=(const CKesMutex&) = delete;

    // Waits without limit until the calling thread owns the mutex (at once if
    // it already does). The wait's result is not examined.
    void LockWrite() const override;
    // Release(), through the virtual table.
    void UnlockWrite() const override;
    // Gives up one hold. Throws CKesException(KES_E_SYNC_OBJECT) when the host
    // refuses, e.g. because the calling thread does not own the mutex.
    virtual void Release() const;

    operator void*() const { return myHandle; }

  private:
    void* myHandle;  // the kernel mutex; set once by the constructor
};
