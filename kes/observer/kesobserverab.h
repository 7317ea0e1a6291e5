// CKesObserverAB and CKesObserverB<T>: the receiving side of a notification.
//
// An observer subscribes to notifiers (kesnotifierb.h) and is called, through
// doCall, once per subscription in every notification pass of each of them.
// CKesObserverAB is the untyped base: the payload arrives as const void*
// (null for a notification without payload). CKesObserverB<T> only names the
// payload type; a concrete observer derives from it and implements doCall:
//
//   class CCounter : public CKesObserverB<CKesNothing> {
//     public:
//       ~CCounter() override { reset(); }   // see "Destruction" below
//     protected:
//       void doCall(const void*) override { ++myCount; }
//     private:
//       int myCount = 0;
//   };
//
// Subscriptions: each one uses an atom (mykescallbackatom.h): the embedded
// atom for the first live one, a heap element for each further one. An
// observer may be subscribed to one notifier several times; it is then
// called as often per pass, and needs as many unsubscriptions. Subscribing
// more than once allocates, and fails with E_OUTOFMEMORY (nothing linked)
// when memory runs out.
//
// Threads: a notification runs doCall on the notifying thread with that
// notifier's lock held. From inside doCall the observer may subscribe,
// unsubscribe (itself or others), reset observers, notify the same notifier
// again, and even delete itself; it must not wait for a thread that needs the
// same notifier. The observer's own list of elements has no lock: subscribe
// and unsubscribe one observer from one thread at a time (a single notifier
// serialises this itself; two notifiers do not).
//
// Destruction: the base destructor resets the observer, unsubscribing it from
// every notifier. It runs after the concrete observer is gone, so an observer
// that another thread may notify must call reset() first thing in its own
// destructor; otherwise a pass can reach it half-destroyed.
#pragma once

#include <kes/export.h>
#include <kes/observer/mykescallbackatom.h>

class CKesNotifierB;
class CMyKesCallbackElement;

// The empty payload of notifications that carry no data.
class KES_API CKesNothing {};

class KES_API CKesObserverAB {
    friend class CKesNotifierB;
    friend class CMyKesCallbackAtom;

  public:
    // Unsubscribes the observer from every notifier it is subscribed to, each
    // through that notifier's own unsubscription (and lock), so that running
    // passes are adjusted. The observer stays usable.
    void reset();

    CKesObserverAB(const CKesObserverAB&) = delete;
    CKesObserverAB& operator=(const CKesObserverAB&) = delete;

  protected:
    CKesObserverAB();
    // reset(), then the embedded atom's destructor checks that it is free.
    virtual ~CKesObserverAB();

    // Receives one notification: theData is the notifier's payload pointer,
    // valid only during the call, or null for a notification without one.
    virtual void doCall(const void* theData) = 0;

  private:
    // Hooks run, under the notifier's lock, at the start of every
    // subscription and unsubscription of this observer. Default: nothing.
    virtual void doSubscribe(CKesNotifierB& theNotifier);
    virtual void doUnsubscribe(CKesNotifierB& theNotifier);

    // The observer's side of a subscription, run by theNotifier under its
    // lock: links the embedded atom when it is free, otherwise a new element.
    // Throws std::bad_alloc (with nothing linked) when no element can be had.
    void subscribe(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList);
    // The observer's side of an unsubscription: unlinks the embedded atom if
    // it belongs to theNotifier, otherwise the newest element that does,
    // deleting it. Asserts "false" (changing nothing) when none does.
    void unsubscribe(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList);
    // The atom that unsubscribe(theNotifier, ...) would unlink, or null.
    CMyKesCallbackAtom* findAtom(const CKesNotifierB& theNotifier) const;

    // Serves the first live subscription.
    CMyKesCallbackAtom myAtom;
    // The observer's elements, newest first; owned. Changed only under the
    // lock of the notifier whose subscription changes.
    CMyKesCallbackElement* myElementList;
};

template <class T>
class KES_API CKesObserverB : public CKesObserverAB {
  public:
    // Call the observer as a notification would, without a notifier:
    // doCall(null) and doCall(&theData).
    void call();
    void call(const T& theData);

  protected:
    CKesObserverB();
    ~CKesObserverB() override;
};

template <class T>
CKesObserverB<T>::CKesObserverB() {}

template <class T>
CKesObserverB<T>::~CKesObserverB() {}

template <class T>
void CKesObserverB<T>::call() {
    doCall(0);
}

template <class T>
void CKesObserverB<T>::call(const T& theData) {
    doCall(&theData);
}

// Built once, in the library.
extern template class KES_API CKesObserverB<CKesNothing>;
