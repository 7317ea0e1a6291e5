// ILockable, the one interface behind every lock of the library, and the
// scoped locks that take a lockable for the length of a block.
//
// A lockable offers exclusive (write) and shared (read) locking. An
// implementation must provide LockWrite and UnlockWrite; the other four
// operations default to them, through the virtual table, so that a lockable
// that overrides only the write pair is locked exclusively by every form.
// All operations are const, so that an object can lock a member lockable from
// its own const operations. Whether a thread that holds a lock may take it
// again, and whether another thread may release it, depends on the
// implementation (kesmutex.h, kescriticalsection.h, kessemaphore.h,
// kesevent.h).
//
// Scoped locks: CKesLock calls Lock()/Unlock(), CKesWriteLock
// LockWrite()/UnlockWrite(), CKesReadLock LockRead()/UnlockRead(). The
// constructor locks; an exception from the lock operation propagates and then
// nothing is unlocked. The destructor unlocks and discards any exception the
// unlock throws, so a scoped lock never lets one out of its destructor (a
// failed release under a scoped lock goes unreported). A scoped lock does not
// own its lockable, which must outlive it, and is used on the thread that
// made it. The pointer must not be null (not checked).
#pragma once

#include <kes/export.h>

class KES_API ILockable {
  public:
    // Lockables carry no state of their own: copying or assigning one copies
    // nothing (a derived class decides whether it may be copied at all).
    ILockable();
    ILockable(const ILockable& theOther);
    ILockable& operator=(const ILockable& theOther);
    virtual ~ILockable();

    // Acquires the lock exclusively; blocks until it can.
    virtual void LockWrite() const = 0;
    // Releases one exclusive hold.
    virtual void UnlockWrite() const = 0;
    // Acquires the lock shared. Default: LockWrite().
    virtual void LockRead() const;
    // Releases one shared hold. Default: UnlockWrite().
    virtual void UnlockRead() const;
    // Acquires the lock in the implementation's usual mode. Default: LockWrite().
    virtual void Lock() const;
    // Releases what Lock() took. Default: UnlockWrite().
    virtual void Unlock() const;
};

// Holds theLockable->Lock() from construction to destruction.
class KES_API CKesLock {
  public:
    CKesLock(const ILockable* theLockable) : myLockable(theLockable) { myLockable->Lock(); }
    ~CKesLock() {
        try {
            myLockable->Unlock();
        } catch (...) {
        }
    }
    // A copy would unlock twice.
    CKesLock(const CKesLock&) = delete;
    CKesLock& operator=(const CKesLock&) = delete;

  private:
    const ILockable* myLockable;
};

// Holds theLockable->LockWrite() from construction to destruction.
class KES_API CKesWriteLock {
  public:
    CKesWriteLock(const ILockable* theLockable) : myLockable(theLockable) {
        myLockable->LockWrite();
    }
    ~CKesWriteLock() {
        try {
            myLockable->UnlockWrite();
        } catch (...) {
        }
    }
    CKesWriteLock(const CKesWriteLock&) = delete;
    CKesWriteLock& operator=(const CKesWriteLock&) = delete;

  private:
    const ILockable* myLockable;
};

// Holds theLockable->LockRead() from construction to destruction.
class KES_API CKesReadLock {
  public:
    CKesReadLock(const ILockable* theLockable) : myLockable(theLockable) { myLockable->LockRead(); }
    ~CKesReadLock() {
        try {
            myLockable->UnlockRead();
        } catch (...) {
        }
    }
    CKesReadLock(const CKesReadLock&) = delete;
    CKesReadLock& operator=(const CKesReadLock&) = delete;

  private:
    const ILockable* myLockable;
};
