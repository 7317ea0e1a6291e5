#include <kes/sync/kesmutex.h>

#include <host/sync.h>
#include <kes/error/kesexception.h>

CKesMutex::CKesMutex() : myHandle(CreateMutexW(nullptr, FALSE, nullptr)) {
    if (myHandle == nullptr)
        throw CKesException(KES_E_SYNC_OBJECT);
}

CKesMutex::~CKesMutex() {
    try {
        CloseHandle(myHandle);
    } catch (...) {
    }
}

void CKesMutex::LockWrite() const {
    WaitForSingleObject(myHandle, INFINITE);
}

void CKesMutex::UnlockWrite() const {
    Release();
}

void CKesMutex::Release() const {
    if (!ReleaseMutex(myHandle))
        throw CKesException(KES_E_SYNC_OBJECT);
}
