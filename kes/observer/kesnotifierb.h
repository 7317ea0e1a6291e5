// CKesNotifierB and CKesNotifier<T>: the sending side of a notification.
//
// A notifier keeps the observers subscribed to it (kesobserverab.h) in
// subscription order and, on notify, runs one notification pass: it calls
// every subscribed observer once per subscription, in that order, on the
// calling thread. CKesNotifierB is the untyped machinery; CKesNotifier<T>
// gives it a payload type T, which it hands to the observers by address,
// valid only during the pass:
//
//   CKesNotifier<CKesNothing> changed;
//   changed.subscribe(&counter);   // counter: a CKesObserverB<CKesNothing>
//   changed.notify();              // counter's doCall(null)
//   changed.unsubscribe(&counter);
//
// Subscription changes during a pass. Observers may subscribe, unsubscribe
// and reset observers, and notify again, from inside their callbacks. The
// running pass keeps its position in two fields (the atom being called and
// the one to call next) and adjusts them when the list changes under it:
//  - an observer that subscribes during a pass is called later in that pass;
//  - a subscription that is removed before the pass reaches it is not called;
//  - an observer that unsubscribes itself while being called does not disturb
//    the pass; it may also delete itself;
//  - notify() from inside a callback delivers nothing at once: once the
//    current callback returns, the running pass starts again from the head
//    of the list, with its own payload (the nested payload is not delivered).
//    A callback that notifies every time keeps the pass from ending.
// The pass never calls, or steps on from, an atom that has been unlinked,
// even when one observer is subscribed several times.
//
// Locking: every operation except isEmpty takes the notifier's re-entrant
// critical section, and a pass holds it while all observers run. Whatever an
// observer locks is therefore taken after the notifier's lock; an observer
// must not wait, inside its callback, for a thread that needs the same
// notifier. Other threads that subscribe, unsubscribe or notify wait until
// the pass ends; their notification is then a pass of its own.
//
// An exception thrown by an observer leaves the pass, which ends there (later
// observers are not called); the lock is released and the notifier is ready
// for the next pass.
//
// Lifetime: a notifier must outlive its subscriptions. Destroying it with
// observers still subscribed is reported ("myAtomList == 0"); those observers
// are then unsubscribed, so that they hold no pointer to the dead notifier.
// Destroying it from inside its own pass is reported ("currentAtom == 0") and
// is not survivable.
#pragma once

#include <host/types.h>
#include <kes/error/keserror.h>
#include <kes/export.h>
#include <kes/observer/kesobserverab.h>
#include <kes/sync/kescriticalsection.h>

#include <atomic>
#include <new>

class KES_API CKesNotifierB {
    friend class CKesObserverAB;

  public:
    // True when nobody is subscribed. Takes no lock: a snapshot that another
    // thread may change at once.
    bool isEmpty() const { return myEmpty.load(std::memory_order_acquire); }

    CKesNotifierB(const CKesNotifierB&) = delete;
    CKesNotifierB& operator=(const CKesNotifierB&) = delete;

  protected:
    CKesNotifierB();
    // Asserts "currentAtom == 0", then "myAtomList == 0".
    virtual ~CKesNotifierB();

    // Subscribes theObserver (once more, if it is already subscribed); true
    // when the list was empty before. Throws std::bad_alloc, with nothing
    // changed, when a second subscription of the observer finds no memory.
    virtual bool subscribeAndTest(CKesObserverAB* theObserver);
    // Removes one subscription of theObserver; true when the list is empty
    // afterwards. Asserts "false" when theObserver is not subscribed.
    virtual bool unsubscribeAndTest(CKesObserverAB* theObserver);
    // Runs one notification pass with theData (see the header comment).
    virtual void sendNotification(const void* theData) const;

    // Guards everything below, and the state of derived notifier extensions
    // (kesgatednotifierb.h). Re-entrant for its holder.
    CKesCriticalSection myLock;

  private:
    // Called by the observer just before it unlinks theAtom from this
    // notifier's list: a running pass that would visit theAtom next moves on
    // to the atom after it. Under myLock.
    void atomLeaving(const CMyKesCallbackAtom& theAtom) const;

    // Head of the circular atom list; null when nobody is subscribed.
    CMyKesCallbackAtom* myAtomList;
    // The atom whose observer the running pass is calling; null when no pass
    // runs. Pass state, so it changes inside the const sendNotification.
    mutable CMyKesCallbackAtom* currentAtom;
    // The atom the running pass calls next; null when it ends after the
    // current call.
    mutable CMyKesCallbackAtom* nextAtom;
    // (myAtomList == 0), stored under myLock after every change, so that
    // isEmpty can read it from any thread without the lock.
    std::atomic<bool> myEmpty;
};

// A notifier with payload type T. Derives virtually from CKesNotifierB so
// that a class joining it with another notifier extension (the gate of
// kesgatednotifierb.h) has one list and one lock.
template <class T>
class KES_API CKesNotifier : public virtual CKesNotifierB {
  public:
    CKesNotifier();
    ~CKesNotifier() override;

    // Subscribes theObserver (again, if it already is). Returns S_OK;
    // E_POINTER for a null observer ("theObserver != 0" asserted);
    // E_OUTOFMEMORY, raised and with nothing changed, when a further
    // subscription of an already subscribed observer cannot be allocated.
    virtual LONG subscribe(CKesObserverB<T>* theObserver);
    // Removes one subscription of theObserver. Returns S_OK (also when the
    // observer was not subscribed, which is asserted as "false"); E_POINTER
    // for a null observer.
    virtual LONG unsubscribe(CKesObserverB<T>* theObserver);
    // A pass without payload: observers receive null.
    virtual void notify() const;
    // A pass that hands every observer &theData.
    virtual void notify(const T& theData) const;
};

template <class T>
CKesNotifier<T>::CKesNotifier() {}

template <class T>
CKesNotifier<T>::~CKesNotifier() {}

template <class T>
LONG CKesNotifier<T>::subscribe(CKesObserverB<T>* theObserver) {
    KES_ASSERT(theObserver != 0);
    if (theObserver == 0)
        return E_POINTER;
    try {
        CKesNotifierB::subscribeAndTest(theObserver);
    } catch (const std::bad_alloc&) {
        return KesRaiseError(E_OUTOFMEMORY, "no memory for a further subscription", KES_SOURCE_FILE,
                             __LINE__);
    }
    return S_OK;
}

template <class T>
LONG CKesNotifier<T>::unsubscribe(CKesObserverB<T>* theObserver) {
    KES_ASSERT(theObserver != 0);
    if (theObserver == 0)
        return E_POINTER;
    CKesNotifierB::unsubscribeAndTest(theObserver);
    return S_OK;
}

template <class T>
void CKesNotifier<T>::notify() const {
    CKesNotifierB::sendNotification(0);
}

template <class T>
void CKesNotifier<T>::notify(const T& theData) const {
    CKesNotifierB::sendNotification(&theData);
}

// Built once, in the library.
extern template class KES_API CKesNotifier<CKesNothing>;
