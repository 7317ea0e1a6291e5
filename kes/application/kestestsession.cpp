#include <kes/application/kestestsession.h>

#include <kes/error/keserror.h>

IDovTestSession* CKesTestSession::m_pTestSession = nullptr;

LONG CKesTestSession::Record(IDovTestSession* pi) {
    KES_ASSERT(pi != 0);
    m_pTestSession = pi;
    return S_OK;
}

LONG CKesTestSession::Remove() {
    m_pTestSession = nullptr;
    return S_OK;
}

LONG CKesTestSession::GetTestSession(void** out) {
    if (out != nullptr)
        *out = m_pTestSession;
    return S_OK;
}
