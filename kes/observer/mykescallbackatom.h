// CMyKesCallbackAtom: the link between one notifier and one observer.
//
// Every subscription is one atom. On the notifier's side the atoms of one
// notifier form a circular doubly-linked list in subscription order, reached
// through one head pointer that the notifier holds (null: nobody subscribed);
// the notifier walks it to deliver a notification. On the observer's side the
// atom names the observer to call. An observer embeds one atom for its first
// subscription; further simultaneous subscriptions use heap atoms
// (CMyKesCallbackElement, mykescallbackelement.h).
//
// States: unlinked (myNotifier and both neighbours null) or linked into one
// notifier's list (all three non-null; an atom alone in its list is its own
// neighbour both ways). Following the next pointers from the head visits the
// atoms in subscription order and comes back to the head; the head's previous
// atom is the newest subscription.
//
// No operation takes a lock: the notifier changes and walks its list only
// under its own lock (kesnotifierb.h). Misuse (linking a linked atom,
// unlinking an unlinked one or from the wrong notifier, asking an unlinked
// atom for its neighbours, destroying a linked atom) is reported through
// KES_ASSERT. When the assertion returns, a refused link or unlink changes
// nothing (an atom destroyed while linked still leaves its list dangling);
// callers keep the preconditions.
//
// Lifetime: an atom must be unlinked before it is destroyed. Atoms are
// neither copied nor moved: the list points at them by address.
#pragma once

#include <kes/error/keserror.h>
#include <kes/export.h>

class CKesNotifierB;
class CKesObserverAB;

class KES_API CMyKesCallbackAtom {
  public:
    // Binds the atom to the observer it calls; the atom starts unlinked.
    explicit CMyKesCallbackAtom(CKesObserverAB& theCallBack);
    // Asserts "myNotifier == 0", then "myNextNotifierAtom == 0 &&
    // myPrevNotifierAtom == 0".
    virtual ~CMyKesCallbackAtom();

    CMyKesCallbackAtom(const CMyKesCallbackAtom&) = delete;
    CMyKesCallbackAtom& operator=(const CMyKesCallbackAtom&) = delete;

    // Hands theData, unchanged, to the observer's doCall. Touches nothing of
    // the atom after doCall returns, so the observer may unlink or delete this
    // atom (or itself) from inside the call.
    void call(const void* theData);

    // Links the atom at the tail of the list whose head pointer is theList
    // (an empty list: the atom becomes the head). Asserts "myNotifier == 0".
    void addNotifierList(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList);

    // Unlinks the atom from theNotifier's list whose head pointer is theList;
    // a departing head gives way to its next atom, the last atom leaves
    // theList null. Asserts "myNotifier != 0", "myNotifier == &theNotifier",
    // "myNextNotifierAtom != 0 && myPrevNotifierAtom != 0".
    void removeNotifierList(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList);

    // The neighbours in the notifier's list. Both assert "myNotifier != 0",
    // then "myNextNotifierAtom != 0 && myPrevNotifierAtom != 0". Inline: a
    // notification pass asks for the next atom at every step.
    CMyKesCallbackAtom* prevNotifierAtom() const {
        KES_ASSERT(myNotifier != 0);
        KES_ASSERT(myNextNotifierAtom != 0 && myPrevNotifierAtom != 0);
        return myPrevNotifierAtom;
    }
    CMyKesCallbackAtom* nextNotifierAtom() const {
        KES_ASSERT(myNotifier != 0);
        KES_ASSERT(myNextNotifierAtom != 0 && myPrevNotifierAtom != 0);
        return myNextNotifierAtom;
    }

    // The observer this atom calls.
    CKesObserverAB* getCallBack() const { return &myCallBack; }
    // The notifier whose list holds the atom; null while unlinked.
    CKesNotifierB* getNotifier() const { return myNotifier; }

  private:
    CKesObserverAB& myCallBack;
    // The three links are written only under the owning notifier's lock.
    CKesNotifierB* myNotifier;
    CMyKesCallbackAtom* myNextNotifierAtom;
    CMyKesCallbackAtom* myPrevNotifierAtom;
};
