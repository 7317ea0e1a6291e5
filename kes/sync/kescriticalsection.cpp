#include <kes/sync/kescriticalsection.h>

CKesCriticalSection::CKesCriticalSection() {
    InitializeCriticalSection(&myCriticalSection);
}

CKesCriticalSection::~CKesCriticalSection() {
    DeleteCriticalSection(&myCriticalSection);
}

void CKesCriticalSection::LockWrite() const {
    Enter();
}

void CKesCriticalSection::UnlockWrite() const {
    Leave();
}
