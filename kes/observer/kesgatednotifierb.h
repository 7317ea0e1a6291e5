// CKesGatedNotifierB and CKesGatedNotifier<T>: a notifier that can be closed
// for a while and then replays what it held back.
//
// disable() closes the gate and enable() opens it again; they nest, each
// disable matched by one enable. While the gate is closed notifications are
// not delivered but counted; the enable() that opens the gate runs, before it
// returns, one ordinary pass (kesnotifierb.h) for every notification held:
// none is dropped or merged. Each replayed pass reaches the observers
// subscribed at the time of the replay, so an observer that leaves while the
// gate is closed receives none of them and one that joins receives them all.
//
//   CKesGatedNotifier<CKesNothing> changed;
//   changed.disable();
//   changed.notify(); changed.notify();   // held
//   changed.enable();                     // two passes, then returns
//
// Payloads are not held: notify(theData) on a gated notifier is a notify()
// without payload, open or closed, and observers receive null. Use it for
// notifications whose observers look up the state themselves.
//
// Hooks: onDisable runs when the gate goes from open to closed, onEnable when
// it goes from closed to open; nested disable/enable pairs run neither. Both
// run with the notifier's lock held. CKesGatedNotifier<T>'s onEnable is the
// replay; an override replaces it unless it calls the inherited one.
//
// Locking: the gate, the held count, the observer list and the passes share
// the notifier's one re-entrant critical section. The whole replay runs
// inside enable() with the lock held, so other threads can neither change
// subscriptions nor notify, disable or enable until it is over. From inside a
// replayed pass an observer may close the gate again: the replay still runs
// all its passes, and notifications made meanwhile are held for the next
// opening. notify() tests the gate under the lock but lets it go before its
// pass starts, so a disable() by another thread in between does not hold that
// notification back. isEnabled() reads the count without the lock.
//
// An exception from an observer during a replay leaves enable(): the gate is
// open, and the held notifications not yet replayed are discarded.
// Destroying a gated notifier discards held notifications; the notifier's own
// destruction rules apply (no subscriber left, no pass running).
#pragma once

#include <host/types.h>
#include <kes/error/keserror.h>
#include <kes/export.h>
#include <kes/observer/kesnotifierb.h>
#include <kes/sync/keslock.h>

#include <atomic>
#include <cstdint>

class KES_API CKesGatedNotifierB : public virtual CKesNotifierB {
  public:
    ~CKesGatedNotifierB() override;

    // Closes the gate once more; runs onDisable() when it was open.
    virtual void disable();
    // Takes back one disable(); runs onEnable() when that opens the gate.
    // On an open gate it asserts "m_DisableCount > 0" and changes nothing.
    virtual void enable();
    // True when the gate is open. Takes no lock.
    virtual bool isEnabled() const;

  protected:
    CKesGatedNotifierB();

    // Run with the lock held on the transitions open -> closed and
    // closed -> open. Default: nothing.
    virtual void onDisable();
    virtual void onEnable();

  private:
    // disable() calls not yet matched by enable(); never negative, 0 when
    // open. Written under myLock; atomic because isEnabled and the check at
    // the start of enable() read it without the lock.
    std::atomic<LONG> m_DisableCount;
};

template <class T>
class KES_API CKesGatedNotifier : public CKesNotifier<T>, public CKesGatedNotifierB {
  public:
    CKesGatedNotifier();
    ~CKesGatedNotifier() override;

    // Open: one ordinary pass, started after the gate's lock is let go.
    // Closed: counted for the replay.
    void notify() const override;
    // notify(): the payload is not passed on; observers receive null.
    void notify(const T& theData) const override;

  protected:
    // The replay: one ordinary pass per held notification.
    void onEnable() override;

  private:
    // Notifications held while closed (saturating at the largest LONG);
    // 0 whenever the gate is open and no replay runs. Under myLock; changes
    // inside the const notify().
    mutable LONG m_PendingCount;
};

template <class T>
CKesGatedNotifier<T>::CKesGatedNotifier() : m_PendingCount(0) {}

template <class T>
CKesGatedNotifier<T>::~CKesGatedNotifier() {}

template <class T>
void CKesGatedNotifier<T>::notify() const {
    {
        CKesLock lock(&this->myLock);
        if (!isEnabled()) {
            if (m_PendingCount < INT32_MAX)
                ++m_PendingCount;
            return;
        }
    }
    CKesNotifier<T>::notify();
}

template <class T>
void CKesGatedNotifier<T>::notify(const T&) const {
    notify();
}

template <class T>
void CKesGatedNotifier<T>::onEnable() {
    LONG count = 0;
    {
        CKesLock lock(&this->myLock);
        count = m_PendingCount;
        m_PendingCount = 0;
    }
    for (; count > 0; --count)
        CKesNotifier<T>::notify();
}

// Built once, in the library.
extern template class KES_API CKesGatedNotifier<CKesNothing>;
