#include <kes/harness/kestestcomponentbc.h>

#include <kes/harness/kestestpurposebc.h>

#include <cstdio>

int KesTestComponentBC::theInvocationNumber = 0;
KesTestComponentBC* KesTestComponentBC::theComponentList = nullptr;
KesTestComponentBC* KesTestComponentBC::theComponent = nullptr;

namespace {

// A null name prints as empty text rather than being handed to printf.
const char* printable(const char* theName) {
    return theName != nullptr ? theName : "";
}

}  // namespace

KesTestComponentBC::KesTestComponentBC(const char* theName)
    : myNext(this),
      myPrevious(this),
      myInvocationNumber(++theInvocationNumber),
      myName(theName),
      myPurposeList(nullptr) {
    theComponent = this;
    appendList(theComponentList);
}

KesTestComponentBC::~KesTestComponentBC() {
    // Unlink each purpose before deleting it, so the circle never holds a
    // freed element.
    while (myPurposeList != nullptr) {
        KesTestPurposeBC* purpose = myPurposeList;
        if (purpose->myNext == purpose) {
            myPurposeList = nullptr;
        } else {
            myPurposeList = purpose->myNext;
            purpose->myPrevious->myNext = purpose->myNext;
            purpose->myNext->myPrevious = purpose->myPrevious;
        }
        delete purpose;
    }
    if (theComponentList == this)
        theComponentList = myNext != this ? myNext : nullptr;
    // Purposes constructed later must not register with a destroyed component.
    if (theComponent == this)
        theComponent = nullptr;
    myPrevious->myNext = myNext;
    myNext->myPrevious = myPrevious;
    myNext = myPrevious = this;
}

const char* KesTestComponentBC::getName() const {
    return myName;
}

void KesTestComponentBC::initialiser() {
    KesTestComponentBC* component = theComponentList;
    if (component == nullptr)
        return;
    do {
        component->initialiseComponent();
        component = component->next();
    } while (component != theComponentList);
}

void KesTestComponentBC::performTest() {
    KesTestComponentBC* component = theComponentList;
    if (component == nullptr)
        return;
    do {
        KesTestPurposeBC* purpose = component->myPurposeList;
        if (purpose != nullptr) {
            do {
                purpose->executeTest();
                purpose = purpose->next();
            } while (purpose != component->myPurposeList);
        }
        component = component->next();
    } while (component != theComponentList);
}

void KesTestComponentBC::finaliser() {
    KesTestComponentBC* component = theComponentList;
    if (component != nullptr) {
        do {
            component->finaliseComponent();
            component = component->next();
        } while (component != theComponentList);
    }
    std::fprintf(stderr, "\n\nTest Summary\n");
    std::fprintf(stderr, "------------\n");
    component = theComponentList;
    if (component == nullptr)
        return;
    do {
        component->printResults();
        component = component->next();
    } while (component != theComponentList);
}

KesTestComponentBC* KesTestComponentBC::registerPurpose(KesTestPurposeBC* thePurpose) {
    if (theComponent == nullptr)
        return nullptr;
    thePurpose->appendList(theComponent->myPurposeList);
    return theComponent;
}

void KesTestComponentBC::appendList(KesTestComponentBC*& theList) {
    if (theList == nullptr) {
        myNext = myPrevious = this;
        theList = this;
        return;
    }
    // Just before the first element is the end of the circle.
    myNext = theList;
    myPrevious = theList->myPrevious;
    myPrevious->myNext = this;
    theList->myPrevious = this;
}

KesTestComponentBC* KesTestComponentBC::next() const {
    return myNext;
}

void KesTestComponentBC::printResults() {
    std::fprintf(stderr, "\nInvocable Component %d : %s\n", myInvocationNumber, printable(myName));
    KesTestPurposeBC* purpose = myPurposeList;
    if (purpose == nullptr)
        return;
    do {
        purpose->printResults();
        purpose = purpose->next();
    } while (purpose != myPurposeList);
}
