#include <kes/observer/kesobserverab.h>

#include <kes/observer/kesnotifierb.h>
#include <kes/observer/mykescallbackelement.h>

template class CKesObserverB<CKesNothing>;

CKesObserverAB::CKesObserverAB() : myAtom(*this), myElementList(0) {}

CKesObserverAB::~CKesObserverAB() {
    reset();
}

void CKesObserverAB::doSubscribe(CKesNotifierB&) {}

void CKesObserverAB::doUnsubscribe(CKesNotifierB&) {}

void CKesObserverAB::reset() {
    if (CKesNotifierB* notifier = myAtom.getNotifier())
        notifier->unsubscribeAndTest(this);
    // Each unsubscription takes away the first element: the embedded atom no
    // longer belongs to that element's notifier, and the newest element of a
    // notifier is the first one found.
    while (myElementList != 0) {
        CMyKesCallbackElement* first = myElementList;
        first->getNotifier()->unsubscribeAndTest(this);
        if (myElementList == first)
            break;  // the notifier did not let it go; looping would never end
    }
}

void CKesObserverAB::subscribe(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList) {
    doSubscribe(theNotifier);
    if (myAtom.getNotifier() == 0) {
        myAtom.addNotifierList(theNotifier, theList);
        return;
    }
    // The only step that can fail comes first, so a failure links nothing.
    CMyKesCallbackElement* element = new CMyKesCallbackElement(*this);
    element->addCallBackList(*this, myElementList);
    element->addNotifierList(theNotifier, theList);
}

CMyKesCallbackAtom* CKesObserverAB::findAtom(const CKesNotifierB& theNotifier) const {
    if (myAtom.getNotifier() == &theNotifier)
        return const_cast<CMyKesCallbackAtom*>(&myAtom);
    for (CMyKesCallbackElement* element = myElementList; element != 0;
         element = element->nextCallBackElement()) {
        if (element->getNotifier() == &theNotifier)
            return element;
    }
    return 0;
}

void CKesObserverAB::unsubscribe(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList) {
    doUnsubscribe(theNotifier);
    CMyKesCallbackAtom* atom = findAtom(theNotifier);
    if (atom == 0) {
        KES_ASSERT(false);
        return;
    }
    // A running pass of theNotifier may be about to visit exactly this atom;
    // it steps past it before the atom is unlinked (and perhaps deleted).
    theNotifier.atomLeaving(*atom);
    atom->removeNotifierList(theNotifier, theList);
    if (atom == &myAtom)
        return;
    CMyKesCallbackElement* element = static_cast<CMyKesCallbackElement*>(atom);
    element->removeCallBackList(*this);
    delete element;
}
