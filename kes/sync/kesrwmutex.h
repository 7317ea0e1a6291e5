// CKesRwMutex: a lockable whose read lock is shared and whose write lock is
// exclusive.
//
// Any number of readers may hold it together; a writer holds it alone.
// Readers are preferred: while any reader holds it, further readers get in
// at once, and a writer waits until the last reader has let go (so writers
// may starve while readers keep overlapping). Use it through the scoped
// locks: CKesReadLock for shared access, CKesWriteLock or CKesLock for
// exclusive access (Lock/Unlock take and release the write lock).
//
// No owner: the last reader may run on another thread than the first, and a
// write hold may be released by another thread than the one that took it.
// Read holds nest (each must be released once); nothing else does: a writer
// that asks again for the write lock or for a read lock, and a reader that
// asks for the write lock, wait for themselves for ever.
//
// Unbalanced calls are ignored rather than let corrupt the state: UnlockRead
// with no read hold outstanding and UnlockWrite with no write hold change
// nothing. (An UnlockRead on behalf of another reader still counts: holds
// are not tied to threads.)
//
// Cost: taking and releasing an uncontended lock is one compare-and-swap each,
// with no system call; only a thread that must wait sleeps, on a condition
// variable that the releasing thread signals when it sees waiters. Nothing
// here throws. Destroying the mutex while it is held or waited for is a
// caller error. Not copyable.
#pragma once

#include <kes/export.h>
#include <kes/sync/keslock.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class KES_API CKesRwMutex : public ILockable {
  public:
    CKesRwMutex();
    ~CKesRwMutex() override;
    CKesRwMutex(const CKesRwMutex&) = delete;
    CKesRwMutex& operator=(const CKesRwMutex&) = delete;

    // Blocks until no reader and no writer holds the mutex, then holds it alone.
    void LockWrite() const override;
    // Releases the write hold; waiting readers and writers then compete.
    void UnlockWrite() const override;
    // Blocks while a writer holds the mutex (not while writers only wait),
    // then adds one read hold.
    void LockRead() const override;
    // Releases one read hold; the last one lets a waiting writer in.
    void UnlockRead() const override;

    // Whether a writer holds the mutex; read without a lock, so it describes
    // some moment near the call.
    bool WriteLocked() const;
    // Whether any read hold is outstanding; read without a lock, as above.
    bool ReadLocked() const;

  private:
    // myState: bit 31 a writer holds the mutex, bit 30 threads may be waiting
    // in the slow path, bits 0-29 the number of read holds.
    static constexpr std::uint32_t WRITER = 0x80000000u;
    static constexpr std::uint32_t WAITING = 0x40000000u;
    static constexpr std::uint32_t READERS = 0x3FFFFFFFu;

    bool TryAcquire(bool theWrite) const;
    void LockSlow(bool theWrite) const;
    void WakeWaiters() const;

    mutable std::atomic<std::uint32_t> myState;
    // The slow path. myWaiters counts the threads inside it; WAITING is set
    // while it is not 0. Both are changed under myWaitLock only.
    mutable std::mutex myWaitLock;
    mutable std::condition_variable myWaitCondition;
    mutable int myWaiters;  // guarded by myWaitLock
};
