#include <kes/application/keshandlebase.h>

#include <kes/error/keserror.h>
#include <kes/sync/kescriticalsection.h>
#include <kes/sync/keslock.h>

#include <ostream>

namespace {

constexpr LONG kLastHandle = 0x7FFFFFFF;

// The lock and the counter it guards share one cache line, so that a
// thread taking the lock brings in the counter with it: under contention
// every hand-over then moves one line between cores, not two.
struct alignas(64) HandleState {
    CKesCriticalSection lock;  // built at library load, destroyed at unload
    // The handle the next GetHandle hands out; 0 once they are used up.
    LONG next = 1;  // guarded by lock
};
HandleState theHandles;

}  // namespace

LONG CKesHandleBase::GetHandle(LONG* pHandle) {
    bool exhausted = false;
    {
        CKesLock lock(&theHandles.lock);
        if (theHandles.next == 0) {
            exhausted = true;
        } else if (pHandle != nullptr) {
            *pHandle = theHandles.next;
            theHandles.next = theHandles.next == kLastHandle ? 0 : theHandles.next + 1;
        }
    }
    // Reported outside the lock: a report may take a while (the event log,
    // the error-message server) and other callers need not wait for it.
    if (exhausted) {
        std::ostream& stream = KesMakeErrorStream();
        stream << "The system has run out of handles";
        return KesRaiseError(KES_E_OUT_OF_HANDLES, stream, KES_SOURCE_FILE, __LINE__);
    }
    KES_ASSERT(pHandle != 0);
    if (pHandle == nullptr)
        return E_POINTER;
    return S_OK;
}

LONG CKesHandleBase::ReserveHandle(LONG handle) {
    CKesLock lock(&theHandles.lock);
    // An exhausted allocator stays exhausted; past the last handle there is
    // no next one (handle + 1 would overflow).
    if (theHandles.next != 0 && theHandles.next <= handle)
        theHandles.next = handle == kLastHandle ? 0 : handle + 1;
    return S_OK;
}
