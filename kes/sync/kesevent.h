// Events over host event kernel objects: CKesEventB, the shared base, and its
// two forms, CKesManualEvent and CKesAutoEvent.
//
// An event is signalled or not. Set signals it, Reset clears it, Wait blocks
// until it is signalled or the time runs out.
//  - Manual reset (CKesManualEvent, non-signalled by default): stays
//    signalled until Reset and lets every waiter through meanwhile.
//  - Auto reset (CKesAutoEvent, signalled by default): lets exactly one waiter
//    through per Set and resets itself as it does; a Set with no waiter stays
//    until the next Wait. Signals do not count: two Sets with no waiter let
//    one later waiter through.
// Pulse releases the threads waiting at that instant (all of them on a manual
// event, at most one on an auto event) and leaves the event non-signalled;
// with no waiter it does nothing but reset.
//
// CKesAutoEvent is also a lockable: LockWrite waits for the event and
// UnlockWrite sets it, so a signalled auto event is an open lock that admits
// one holder. It has no owner: any thread may unlock it, and a holder that
// locks it again waits for itself.
//
// Set, Reset and Pulse throw CKesException(KES_E_SYNC_OBJECT) when the host
// refuses. Not copyable: each object owns its kernel object and closes it
// once. The conversion to void* gives the handle for the host's own waits.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/sync/keslock.h>

class KES_API CKesEventB {
  public:
    enum TResetType { ManualReset = 0, AutoReset = 1 };

    // Closes the handle; never throws.
    virtual ~CKesEventB();
    CKesEventB(const CKesEventB&) = delete;
    CKesEventB& operator=(const CKesEventB&) = delete;

    // Signals the event.
    virtual void Set() const;
    // Makes the event non-signalled.
    virtual void Reset() const;
    // Releases the current waiters as described above; leaves it non-signalled.
    virtual void Pulse() const;
    // Waits up to theTimeout milliseconds (INFINITE: no limit; 0: just test)
    // and returns the host's result unchanged: WAIT_OBJECT_0 (0) signalled
    // (an auto event is then reset), WAIT_TIMEOUT (0x102), WAIT_FAILED
    // (0xFFFFFFFF).
    virtual DWORD Wait(DWORD theTimeout) const;

    operator void*() const { return myHandle; }

  protected:
    // A manual-reset event exactly when theType is ManualReset (0); any other
    // value gives an auto-reset one. Throws CKesException(KES_E_SYNC_OBJECT)
    // when the host refuses; nothing is left open then.
    CKesEventB(TResetType theType, bool theInitialState);

  private:
    void* myHandle;  // the kernel event; set once by the constructor
};

class KES_API CKesManualEvent : public CKesEventB {
  public:
    CKesManualEvent(bool theInitialState = false);
};

class KES_API CKesAutoEvent : public CKesEventB, public ILockable {
  public:
    // Signalled by default: an open lock.
    CKesAutoEvent(bool theInitialState = true);
    ~CKesAutoEvent() override;

    // Waits without limit for the event (one waiter gets through per
    // signal); the wait's result is not examined.
    void LockWrite() const override;
    // Set().
    void UnlockWrite() const override;
};
