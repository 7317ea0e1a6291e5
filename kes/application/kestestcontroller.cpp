#include <kes/application/kestestcontroller.h>

#include <kes/application/keseventsink.h>
#include <kes/error/keserror.h>

#include <cstddef>

IIntTestController* CKesTestController::g_pTestController = nullptr;
IStream* CKesTestController::g_pStream = nullptr;

// ---- Publication -------------------------------------------------------------------

LONG CKesTestController::Globalize(IIntTestController* pi) {
    KES_ASSERT(pi != 0);
    KES_ASSERT(g_pTestController == 0);
    if (pi == 0)
        return S_OK;
    pi->AddRef();
    IIntTestController* previous = g_pTestController;
    g_pTestController = pi;
    if (previous != 0)
        previous->Release();
    return S_OK;
}

LONG CKesTestController::Unglobalize() {
    if (g_pTestController != 0) {
        IIntTestController* published = g_pTestController;
        g_pTestController = 0;
        published->Release();
    }
    return S_OK;
}

LONG CKesTestController::Localize(IIntTestController** ppi) {
    KES_ASSERT(g_pTestController != 0);
    if (ppi == nullptr)
        return E_POINTER;
    if (g_pTestController == 0) {
        *ppi = 0;
        return E_NOINTERFACE;
    }
    *ppi = g_pTestController;
    (*ppi)->AddRef();
    return S_OK;
}

bool CKesTestController::IsTestControllerValid() {
    return g_pTestController != 0;
}

// ---- Life and binding ---------------------------------------------------------------

CKesTestController::CKesTestController() : m_pTestController(0), m_ClientCookie(0) {}

CKesTestController::~CKesTestController() {
    KES_ASSERT(m_ClientCookie == 0);
    if (m_pTestController != 0) {
        m_pTestController->Release();
        m_pTestController = 0;
    }
}

LONG CKesTestController::Initialize() {
    HRESULT hr = Localize(&m_pTestController);
    KES_ASSERT(SUCCEEDED(hr));
    KES_ASSERT(m_pTestController != 0);
    if (FAILED(hr))
        m_pTestController = 0;
    return hr;
}

LONG CKesTestController::Bind() {
    HRESULT hr = S_OK;
    if (m_pTestController == 0)
        hr = Initialize();
    KES_ASSERT(m_pTestController != 0);
    if (m_pTestController == 0)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    return S_OK;
}

// ---- Forwarding -----------------------------------------------------------------------

LONG CKesTestController::GetTestState(EDovTestState* pState) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetTestState(pState);
}

LONG CKesTestController::GetTestMode(EDovTestMode* pMode) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetTestMode(pMode);
}

LONG CKesTestController::GetTestDuration(LONG* pDuration) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetTestDuration(pDuration);
}

LONG CKesTestController::GetSamplingInterval(LONG* pInterval) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetSamplingInterval(pInterval);
}

LONG CKesTestController::GetTrickleTime(LONG* pTrickleTime) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetTrickleTime(pTrickleTime);
}

LONG CKesTestController::GetStartTime(LONG* pStartTime) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetStartTime(pStartTime);
}

LONG CKesTestController::GetElapsedTime(LONG* pElapsedTime) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->GetElapsedTime(pElapsedTime);
}

LONG CKesTestController::ResetTimestamps() {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->ResetTimestamps();
}

LONG CKesTestController::CanResetTimestamps() {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    return m_pTestController->CanResetTimestamps();
}

// ---- Subscription -----------------------------------------------------------------------

LONG CKesTestController::Advise(IIntTestControllerEvents* client) {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    KES_ASSERT(client != NULL);
    DWORD cookie = 0;
    HRESULT hr = ConnectEventSink(m_pTestController, client, IID_IIntTestControllerEvents, &cookie);
    if (hr != 0)
        return hr;
    m_ClientCookie = cookie;
    return 0;
}

LONG CKesTestController::Unadvise() {
    if (HRESULT hr = Bind(); FAILED(hr))
        return hr;
    KES_ASSERT(m_ClientCookie != 0);
    HRESULT hr =
        DisconnectEventSink(m_pTestController, IID_IIntTestControllerEvents, m_ClientCookie);
    if (hr != 0)
        return hr;
    m_ClientCookie = 0;
    return 0;
}
