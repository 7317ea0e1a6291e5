// CMyKesCallbackElement: a callback atom on the heap, for an observer's
// second and further simultaneous subscriptions.
//
// Besides the notifier-side links of its atom (mykescallbackatom.h), an
// element sits in a singly-linked list owned by its observer, so that the
// observer can find and delete it again. The list is reached through one head
// pointer in the observer; new elements go to the front. Each element keeps
// the address of the pointer that points at it (the head or its
// predecessor's next field), so that taking it out needs no search.
//
// States: in no list (both element fields null) or in its observer's list.
// Elements are created with new and destroyed with delete by the observer
// that owns them, after they left both lists. No lock: the observer's list is
// changed only inside a subscription change, under that notifier's lock
// (kesobserverab.h says who may do that from which thread).
#pragma once

#include <kes/export.h>
#include <kes/observer/mykescallbackatom.h>

class KES_API CMyKesCallbackElement : public CMyKesCallbackAtom {
  public:
    explicit CMyKesCallbackElement(CKesObserverAB& theCallBack);
    // Asserts "myPrevCallBackElementP == 0", then the atom's destructor
    // asserts that the element left its notifier's list.
    ~CMyKesCallbackElement() override;

    // Pushes the element at the front of theCallBack's element list, whose
    // head pointer is theList. Asserts "&theCallBack == &myCallBack" (an
    // element only joins the list of the observer it calls).
    void addCallBackList(CKesObserverAB& theCallBack, CMyKesCallbackElement*& theList);

    // Takes the element out of its observer's list in constant time. Asserts
    // "&theCallBack == &myCallBack", then "myPrevCallBackElementP != 0".
    void removeCallBackList(CKesObserverAB& theCallBack);

    // The following element; null at the end. Asserts
    // "myPrevCallBackElementP != 0".
    CMyKesCallbackElement* nextCallBackElement() const {
        KES_ASSERT(myPrevCallBackElementP != 0);
        return myNextCallBackElement;
    }

  private:
    CMyKesCallbackElement* myNextCallBackElement;
    // The pointer that points at this element; null while in no list.
    CMyKesCallbackElement** myPrevCallBackElementP;
};
