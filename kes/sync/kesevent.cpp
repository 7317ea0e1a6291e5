#include <kes/sync/kesevent.h>

#include <host/sync.h>
#include <kes/error/kesexception.h>

CKesEventB::CKesEventB(TResetType theType, bool theInitialState)
    : myHandle(CreateEventW(nullptr, theType == ManualReset ? TRUE : FALSE,
                            theInitialState ? TRUE : FALSE, nullptr)) {
    if (myHandle == nullptr)
        throw CKesException(KES_E_SYNC_OBJECT);
}

CKesEventB::~CKesEventB() {
    try {
        CloseHandle(myHandle);
    } catch (...) {
    }
}

void CKesEventB::Set() const {
    if (!SetEvent(myHandle))
        throw CKesException(KES_E_SYNC_OBJECT);
}

void CKesEventB::Reset() const {
    if (!ResetEvent(myHandle))
        throw CKesException(KES_E_SYNC_OBJECT);
}

void CKesEventB::Pulse() const {
    if (!PulseEvent(myHandle))
        throw CKesException(KES_E_SYNC_OBJECT);
}

DWORD CKesEventB::Wait(DWORD theTimeout) const {
    return WaitForSingleObject(myHandle, theTimeout);
}

CKesManualEvent::CKesManualEvent(bool theInitialState) : CKesEventB(ManualReset, theInitialState) {}

CKesAutoEvent::CKesAutoEvent(bool theInitialState) : CKesEventB(AutoReset, theInitialState) {}

CKesAutoEvent::~CKesAutoEvent() {}

void CKesAutoEvent::LockWrite() const {
    WaitForSingleObject(*this, INFINITE);
}

void CKesAutoEvent::UnlockWrite() const {
    Set();
}
