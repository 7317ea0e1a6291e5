#include <kes/observer/kesnotifierb.h>

#include <kes/observer/mykescallbackatom.h>

template class CKesNotifier<CKesNothing>;

namespace {

// Stores (list == 0) into the notifier's lock-free copy when the scope ends,
// also when the observer's side threw: a re-entrant hook may have changed
// the list before the throw.
class EmptyMirror {
  public:
    EmptyMirror(std::atomic<bool>& theMirror, CMyKesCallbackAtom* const& theList)
        : myMirror(theMirror), myList(theList) {}
    ~EmptyMirror() { myMirror.store(myList == 0, std::memory_order_release); }
    EmptyMirror(const EmptyMirror&) = delete;
    EmptyMirror& operator=(const EmptyMirror&) = delete;

  private:
    std::atomic<bool>& myMirror;
    CMyKesCallbackAtom* const& myList;
};

// Ends the pass state when the pass leaves, normally (both pointers are then
// null already) or by an exception from an observer, so that the next
// notification is a pass of its own and not taken for a nested request.
class PassEnd {
  public:
    PassEnd(CMyKesCallbackAtom*& theCurrent, CMyKesCallbackAtom*& theNext)
        : myCurrent(theCurrent), myNext(theNext) {}
    ~PassEnd() {
        myCurrent = 0;
        myNext = 0;
    }
    PassEnd(const PassEnd&) = delete;
    PassEnd& operator=(const PassEnd&) = delete;

  private:
    CMyKesCallbackAtom*& myCurrent;
    CMyKesCallbackAtom*& myNext;
};

// The atom after theAtom in a pass over the list headed by theHead, or null
// when that is the head again. A free function rather than a member: the
// pass takes this step for every observer, and a member of an exported class
// would be reached through the dynamic linker's table instead of inline.
inline CMyKesCallbackAtom* Following(const CMyKesCallbackAtom* theAtom,
                                     const CMyKesCallbackAtom* theHead) {
    CMyKesCallbackAtom* next = theAtom->nextNotifierAtom();
    return next == theHead ? 0 : next;
}

}  // namespace

CKesNotifierB::CKesNotifierB() : myAtomList(0), currentAtom(0), nextAtom(0), myEmpty(true) {}

CKesNotifierB::~CKesNotifierB() {
    KES_ASSERT(currentAtom == 0);
    KES_ASSERT(myAtomList == 0);
    // Observers still subscribed would keep pointing at this notifier and
    // reach it again when they unsubscribe or are destroyed: let them go.
    if (myAtomList == 0)
        return;
    CKesLock lock(&myLock);
    while (myAtomList != 0)
        myAtomList->getCallBack()->unsubscribe(*this, myAtomList);
}

void CKesNotifierB::atomLeaving(const CMyKesCallbackAtom& theAtom) const {
    // The running pass compares atoms, not observers: an observer subscribed
    // several times keeps its other subscriptions in the pass, and the atom
    // the pass would visit next is never the one being unlinked. With one
    // subscription per observer this is the same as comparing observers.
    if (nextAtom == &theAtom)
        nextAtom = Following(&theAtom, myAtomList);
}

bool CKesNotifierB::subscribeAndTest(CKesObserverAB* theObserver) {
    KES_ASSERT(theObserver != 0);
    if (theObserver == 0)
        return false;
    CKesLock lock(&myLock);
    EmptyMirror mirror(myEmpty, myAtomList);
    const bool wasEmpty = (myAtomList == 0);
    theObserver->subscribe(*this, myAtomList);
    // A pass that would end after its current call goes on to the new tail,
    // the atom just added; otherwise the pass reaches the tail in turn.
    if (currentAtom != 0 && nextAtom == 0)
        nextAtom = myAtomList->prevNotifierAtom();
    return wasEmpty;
}

bool CKesNotifierB::unsubscribeAndTest(CKesObserverAB* theObserver) {
    KES_ASSERT(theObserver != 0);
    if (theObserver == 0)
        return isEmpty();
    CKesLock lock(&myLock);
    EmptyMirror mirror(myEmpty, myAtomList);
    // The running pass is adjusted by atomLeaving, which the observer calls
    // right before it unlinks the atom it chose.
    theObserver->unsubscribe(*this, myAtomList);
    return myAtomList == 0;
}

void CKesNotifierB::sendNotification(const void* theData) const {
    CKesLock lock(&myLock);
    if (currentAtom != 0) {
        // Called from inside a callback of the running pass on this thread:
        // that pass starts again from the head once the callback returns.
        nextAtom = myAtomList;
        return;
    }
    currentAtom = myAtomList;
    if (currentAtom == 0)
        return;
    PassEnd end(currentAtom, nextAtom);
    nextAtom = Following(currentAtom, myAtomList);
    for (;;) {
        // The observer may change the list; nextAtom is kept linked for us.
        // This is what the atom's call() does, without a second call through
        // the dynamic linker's table per observer.
        currentAtom->getCallBack()->doCall(theData);
        currentAtom = nextAtom;
        if (currentAtom == 0)
            return;
        nextAtom = Following(currentAtom, myAtomList);
    }
}
