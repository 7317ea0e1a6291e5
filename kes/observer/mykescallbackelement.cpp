#include <kes/observer/mykescallbackelement.h>

CMyKesCallbackElement::CMyKesCallbackElement(CKesObserverAB& theCallBack)
    : CMyKesCallbackAtom(theCallBack), myNextCallBackElement(0), myPrevCallBackElementP(0) {}

CMyKesCallbackElement::~CMyKesCallbackElement() {
    KES_ASSERT(myPrevCallBackElementP == 0);
}

void CMyKesCallbackElement::addCallBackList(CKesObserverAB& theCallBack,
                                            CMyKesCallbackElement*& theList) {
    // The atom's observer reference is private to the atom; its address is
    // what getCallBack() returns.
    CKesObserverAB& myCallBack = *getCallBack();
    KES_ASSERT(&theCallBack == &myCallBack);
    if (theList != 0)
        theList->myPrevCallBackElementP = &myNextCallBackElement;
    myNextCallBackElement = theList;
    myPrevCallBackElementP = &theList;
    theList = this;
}

void CMyKesCallbackElement::removeCallBackList(CKesObserverAB& theCallBack) {
    CKesObserverAB& myCallBack = *getCallBack();
    KES_ASSERT(&theCallBack == &myCallBack);
    KES_ASSERT(myPrevCallBackElementP != 0);
    if (myPrevCallBackElementP == 0)
        return;  // in no list: there is nothing to take out of
    *myPrevCallBackElementP = myNextCallBackElement;
    if (myNextCallBackElement != 0)
        myNextCallBackElement->myPrevCallBackElementP = myPrevCallBackElementP;
    myNextCallBackElement = 0;
    myPrevCallBackElementP = 0;
}
