#include <kes/application/keseventsink.h>

#include <host/connpt.h>

namespace {

// The server's connection point for `events`, or the failing code.
LONG FindPoint(IUnknown* server, const IID& events, IConnectionPoint** ppPoint) {
    *ppPoint = nullptr;
    if (server == nullptr)
        return E_POINTER;
    IConnectionPointContainer* pContainer = nullptr;
    HRESULT hr = server->QueryInterface(IID_IConnectionPointContainer,
                                        reinterpret_cast<void**>(&pContainer));
    if (FAILED(hr) || pContainer == nullptr)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = pContainer->FindConnectionPoint(events, ppPoint);
    pContainer->Release();
    if (FAILED(hr)) {
        // A container that failed yet handed out a point still gave us a
        // reference.
        if (*ppPoint != nullptr)
            (*ppPoint)->Release();
        *ppPoint = nullptr;
        return hr;
    }
    if (*ppPoint == nullptr)
        return E_NOINTERFACE;
    return hr;
}

}  // namespace

LONG ConnectEventSink(IUnknown* server, IUnknown* sink, const IID& events, DWORD* pCookie) {
    IConnectionPoint* pPoint = nullptr;
    HRESULT hr = FindPoint(server, events, &pPoint);
    if (FAILED(hr))
        return hr;
    hr = pPoint->Advise(sink, pCookie);
    pPoint->Release();
    return hr;
}

LONG DisconnectEventSink(IUnknown* server, const IID& events, DWORD cookie) {
    IConnectionPoint* pPoint = nullptr;
    HRESULT hr = FindPoint(server, events, &pPoint);
    if (FAILED(hr))
        return hr;
    hr = pPoint->Unadvise(cookie);
    pPoint->Release();
    return hr;
}
