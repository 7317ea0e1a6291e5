#include <kes/observer/mykescallbackatom.h>

#include <kes/observer/kesobserverab.h>

CMyKesCallbackAtom::CMyKesCallbackAtom(CKesObserverAB& theCallBack)
    : myCallBack(theCallBack), myNotifier(0), myNextNotifierAtom(0), myPrevNotifierAtom(0) {}

CMyKesCallbackAtom::~CMyKesCallbackAtom() {
    KES_ASSERT(myNotifier == 0);
    KES_ASSERT(myNextNotifierAtom == 0 && myPrevNotifierAtom == 0);
}

void CMyKesCallbackAtom::call(const void* theData) {
    myCallBack.doCall(theData);
}

void CMyKesCallbackAtom::addNotifierList(CKesNotifierB& theNotifier, CMyKesCallbackAtom*& theList) {
    KES_ASSERT(myNotifier == 0);
    if (myNotifier != 0)
        return;  // relinking would tear the atom out of its present list
    myNotifier = &theNotifier;
    if (theList == 0) {
        myNextNotifierAtom = this;
        myPrevNotifierAtom = this;
        theList = this;
        return;
    }
    CMyKesCallbackAtom* head = theList;
    CMyKesCallbackAtom* tail = head->myPrevNotifierAtom;
    tail->myNextNotifierAtom = this;
    myNextNotifierAtom = head;
    head->myPrevNotifierAtom = this;
    myPrevNotifierAtom = tail;
}

void CMyKesCallbackAtom::removeNotifierList(CKesNotifierB& theNotifier,
                                            CMyKesCallbackAtom*& theList) {
    KES_ASSERT(myNotifier != 0);
    KES_ASSERT(myNotifier == &theNotifier);
    KES_ASSERT(myNextNotifierAtom != 0 && myPrevNotifierAtom != 0);
    if (myNotifier != &theNotifier || myNextNotifierAtom == 0 || myPrevNotifierAtom == 0)
        return;  // not in this list: changing theList would corrupt it
    myPrevNotifierAtom->myNextNotifierAtom = myNextNotifierAtom;
    myNextNotifierAtom->myPrevNotifierAtom = myPrevNotifierAtom;
    if (theList == this)
        theList = (myNextNotifierAtom == this) ? 0 : myNextNotifierAtom;
    myNotifier = 0;
    myNextNotifierAtom = 0;
    myPrevNotifierAtom = 0;
}
