#include <kes/sync/kestoken.h>

#include <kes/sync/keslock.h>

CKesToken::CKesToken() : myFree(1) {}

CKesToken::~CKesToken() = default;

CKesTokenLock::CKesTokenLock(CKesToken& theToken) : myToken(theToken) {
    CKesLock lock(&myToken.myLock);
    if (myToken.myFree) {
        myAcquired = PelBool(1);
        myToken.myFree = PelBool(0);
    } else {
        myAcquired = PelBool(0);
    }
}

CKesTokenLock::~CKesTokenLock() {
    CKesLock lock(&myToken.myLock);
    if (myAcquired) {
        myToken.myFree = PelBool(1);
        myAcquired = PelBool(0);
    }
}

PelBool CKesTokenLock::Acquired() const {
    return myAcquired;
}
