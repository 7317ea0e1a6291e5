// CKesTestController: the client-side proxy of the tester server's test
// controller (IIntTestController).
//
// Publication and binding work as for CKesPortSelector: the host publishes
// the controller once (`Globalize`, one reference held by the library until
// `Unglobalize`); a proxy binds on its first operation (`Localize`, one
// reference of its own, given back by its destructor) and keeps working after
// `Unglobalize`. With nothing published an operation reports
// "g_pTestController != 0", "SUCCEEDED(hr)" and "m_pTestController != 0",
// calls nothing, leaves its output untouched and returns E_NOINTERFACE.
//
// The getters pass the caller's output pointer to the server as it is
// (nothing is cleared here) and return the server's code unchanged;
// `CanResetTimestamps` has no output: its answer is the server's code, which
// may be any success code. `Advise`/`Unadvise` subscribe one
// IIntTestControllerEvents sink; a second Advise replaces the stored cookie.
// Unsubscribe before destroying a proxy: the destructor only reports a live
// subscription ("m_ClientCookie == 0").
//
// Threads: no lock; one proxy is used by one thread at a time. `Globalize`
// and `Unglobalize` must run while no other thread localizes or uses a proxy.
#pragma once

#include <host/stream.h>
#include <host/types.h>
#include <kes/export.h>
#include <tester/interfaces.h>

class KES_API CKesTestController {
  public:
    CKesTestController();
    ~CKesTestController();

    // Copies would share one server reference and one cookie.
    CKesTestController(const CKesTestController&) = delete;
    CKesTestController& operator=(const CKesTestController&) = delete;

    // ---- Publication (process-wide); as CKesPortSelector's ----
    static LONG Globalize(IIntTestController* pi);
    static LONG Unglobalize();
    static LONG Localize(IIntTestController** ppi);
    static bool IsTestControllerValid();

    // ---- Forwarding ----
    LONG GetTestState(EDovTestState* pState);
    LONG GetTestMode(EDovTestMode* pMode);
    LONG GetTestDuration(LONG* pDuration);
    LONG GetSamplingInterval(LONG* pInterval);
    LONG GetTrickleTime(LONG* pTrickleTime);
    LONG GetStartTime(LONG* pStartTime);
    LONG GetElapsedTime(LONG* pElapsedTime);
    LONG ResetTimestamps();
    LONG CanResetTimestamps();

    // ---- Subscription ----
    // 0, or the failure (no cookie stored); reports a null `client`.
    LONG Advise(IIntTestControllerEvents* client);
    // 0, or the failure (the cookie is kept); unsubscribed, reports
    // "m_ClientCookie != 0" and passes cookie 0 on.
    LONG Unadvise();

  private:
    LONG Initialize();
    LONG Bind();

    IIntTestController* m_pTestController;
    DWORD m_ClientCookie;

    static IIntTestController* g_pTestController;
    // Reserved for a marshalled controller; no operation reads or writes it.
    static IStream* g_pStream;
};
