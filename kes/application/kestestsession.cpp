#include <kes/application/kestestsession.h>

#include <kes/application/keseventsink.h>
#include <kes/error/keserror.h>

#include <cstddef>

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

CKesTestSession::CKesTestSession() : m_ClientCookie(0) {}

LONG CKesTestSession::AdviseOnGuardEvents(IIntTestSessionGuardEvents* client) {
    KES_ASSERT(m_pTestSession != NULL);
    KES_ASSERT(client != NULL);
    if (m_pTestSession == NULL)
        return E_NOINTERFACE;
    DWORD cookie = 0;
    HRESULT hr = ConnectEventSink(m_pTestSession, client, IID_IIntTestSessionGuardEvents, &cookie);
    if (hr != 0)
        return hr;
    m_ClientCookie = cookie;
    return 0;
}

LONG CKesTestSession::UnadviseOnGuardEvents() {
    KES_ASSERT(m_pTestSession != NULL);
    KES_ASSERT(m_ClientCookie != 0);
    if (m_pTestSession == NULL)
        return E_NOINTERFACE;
    HRESULT hr =
        DisconnectEventSink(m_pTestSession, IID_IIntTestSessionGuardEvents, m_ClientCookie);
    if (hr != 0)
        return hr;
    m_ClientCookie = 0;
    return 0;
}
