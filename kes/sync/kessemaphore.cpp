#include <kes/sync/kessemaphore.h>

#include <host/sync.h>
#include <kes/error/kesexception.h>

namespace {

HANDLE create_semaphore(LONG theMaximum, LONG theInitial) {
    LONG initial = theInitial < 0 ? theMaximum : theInitial;
    HANDLE handle = CreateSemaphoreW(nullptr, initial, theMaximum, nullptr);
    if (handle == nullptr)
        throw CKesException(KES_E_SYNC_OBJECT);
    return handle;
}

}  // namespace

CKesSemaphore::CKesSemaphore(LONG theMaximum, LONG theInitial)
    : myHandle(create_semaphore(theMaximum, theInitial)) {}

CKesSemaphore::~CKesSemaphore() {
    try {
        CloseHandle(myHandle);
    } catch (...) {
    }
}

void CKesSemaphore::LockWrite() const {
    WaitForSingleObject(myHandle, INFINITE);
}

void CKesSemaphore::UnlockWrite() const {
    Release(1);
}

void CKesSemaphore::Release(LONG theCount) const {
    if (!ReleaseSemaphore(myHandle, theCount, nullptr))
        throw CKesException(KES_E_SYNC_OBJECT);
}
