// CKesToken, a one-holder right that is tried for and never waited for, and
// CKesTokenLock, a scoped attempt to take it.
//
// A CKesTokenLock's constructor takes the token if it is free and otherwise
// gives up at once; Acquired() tells which happened, the same answer for the
// lock's whole life, and the destructor gives the token back if it had taken
// it. Of several attempts that overlap in time exactly one holds the token.
// The token does not count holds: a second attempt from the thread that
// holds it fails like any other.
//
// The token's critical section is held only for the test-and-take and for
// the give-back, never while the token is held, so an attempt never blocks
// for longer than those few instructions of another thread. A token lock
// must not outlive its token, and a token must not be destroyed while a
// lock holds it. Neither class is copyable.
#pragma once

#include <kes/export.h>
#include <kes/sync/kescriticalsection.h>
#include <pellib/pelbool.h>

class KES_API CKesToken {
  public:
    // Free.
    CKesToken();
    ~CKesToken();
    CKesToken(const CKesToken&) = delete;
    CKesToken& operator=(const CKesToken&) = delete;

  private:
    friend class CKesTokenLock;

    PelBool myFree;  // guarded by myLock: true while no lock holds the token
    CKesCriticalSection myLock;
};

class KES_API CKesTokenLock {
  public:
    // Takes the token if it is free; never waits for it.
    explicit CKesTokenLock(CKesToken& theToken);
    // Gives the token back if this lock holds it.
    ~CKesTokenLock();
    CKesTokenLock(const CKesTokenLock&) = delete;
    CKesTokenLock& operator=(const CKesTokenLock&) = delete;

    // Whether this lock holds the token.
    PelBool Acquired() const;

  private:
    CKesToken& myToken;
    PelBool myAcquired;  // written by the constructor only (and cleared by the destructor)
};
