#include <kes/sync/kesrwmutex.h>

// Why not the event-and-critical-section design: an uncontended read hold
// would cost a kernel-object wait and a set, several times what a shared
// mutex costs. The state word gives the same admission rules with one atomic
// instruction per operation.

CKesRwMutex::CKesRwMutex() : myState(0), myWaiters(0) {}

CKesRwMutex::~CKesRwMutex() = default;

bool CKesRwMutex::TryAcquire(bool theWrite) const {
    std::uint32_t state = myState.load(std::memory_order_relaxed);
    for (;;) {
        std::uint32_t next;
        if (theWrite) {
            if ((state & (WRITER | READERS)) != 0)
                return false;
            next = state | WRITER;
        } else {
            if ((state & WRITER) != 0 || (state & READERS) == READERS)
                return false;
            next = state + 1;
        }
        if (myState.compare_exchange_weak(state, next, std::memory_order_acquire,
                                          std::memory_order_relaxed))
            return true;
    }
}

// The waiter announces itself (WAITING) before it tries again, both in the
// order of the state word's modifications; a releaser that the retry missed
// therefore sees WAITING and notifies under myWaitLock, which the waiter
// holds until it sleeps, so the wake-up cannot be lost.
void CKesRwMutex::LockSlow(bool theWrite) const {
    std::unique_lock<std::mutex> lock(myWaitLock);
    ++myWaiters;
    myState.fetch_or(WAITING, std::memory_order_relaxed);
    while (!TryAcquire(theWrite))
        myWaitCondition.wait(lock);
    if (--myWaiters == 0)
        myState.fetch_and(~WAITING, std::memory_order_relaxed);
}

void CKesRwMutex::WakeWaiters() const {
    { std::lock_guard<std::mutex> lock(myWaitLock); }
    // All of them: every waiting reader may get in together, and a writer
    // that loses simply waits again.
    myWaitCondition.notify_all();
}

void CKesRwMutex::LockWrite() const {
    std::uint32_t expected = 0;
    if (myState.compare_exchange_strong(expected, WRITER, std::memory_order_acquire,
                                        std::memory_order_relaxed))
        return;
    LockSlow(true);
}

void CKesRwMutex::UnlockWrite() const {
    std::uint32_t state = myState.load(std::memory_order_relaxed);
    do {
        if ((state & WRITER) == 0)
            return;  // no write hold: nothing to release
    } while (!myState.compare_exchange_weak(state, state & ~WRITER, std::memory_order_release,
                                            std::memory_order_relaxed));
    if ((state & WAITING) != 0)
        WakeWaiters();
}

void CKesRwMutex::LockRead() const {
    std::uint32_t state = myState.load(std::memory_order_relaxed);
    while ((state & WRITER) == 0 && (state & READERS) != READERS) {
        if (myState.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed))
            return;
    }
    LockSlow(false);
}

void CKesRwMutex::UnlockRead() const {
    std::uint32_t state = myState.load(std::memory_order_relaxed);
    do {
        if ((state & READERS) == 0)
            return;  // no read hold: nothing to release
    } while (!myState.compare_exchange_weak(state, state - 1, std::memory_order_release,
                                            std::memory_order_relaxed));
    if ((state & READERS) == 1 && (state & WAITING) != 0)
        WakeWaiters();
}

bool CKesRwMutex::WriteLocked() const {
    return (myState.load(std::memory_order_relaxed) & WRITER) != 0;
}

bool CKesRwMutex::ReadLocked() const {
    return (myState.load(std::memory_order_relaxed) & READERS) != 0;
}
