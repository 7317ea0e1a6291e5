// The tester server's COM interfaces, as the library and its callers see them.
//
// Header-only: declarations and their identifiers, shared by kes (the client
// side) and kes::tester (the simulated server). A real server implements the
// same interfaces with the same identifiers.
//
// Strings cross these interfaces as BSTRs. A BSTR passed in stays the
// caller's; a BSTR handed out through an out parameter becomes the caller's,
// who frees it with SysFreeString.
#pragma once

#include <host/com.h>
#include <host/comptr.h>
#include <host/types.h>

// ---- Error messages, test session, session manager ----------------------------

DEFINE_GUID(CLSID_DovErrorLookup, 0x5C1E7A10, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);
DEFINE_GUID(IID_IDovErrorLookup, 0x5C1E7A11, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);
DEFINE_GUID(IID_IDovTestSession, 0x5C1E7A12, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);
DEFINE_GUID(IID_IDovSessionManager, 0x5C1E7A13, 0x3B2D, 0x4E8F, 0x9A, 0x61, 0x2F, 0x0D, 0x4C, 0x77,
            0xB3, 0x01);

// The error-message server: the standard message of every result code.
struct IDovErrorLookup : public IUnknown {
    // `*message` receives a new BSTR with the standard text for `code` (never
    // null on success), owned by the caller.
    virtual HRESULT LookupMessage(LONG code, BSTR* message) = 0;

  protected:
    ~IDovErrorLookup() = default;
};

// The running test session.
struct IDovTestSession : public IUnknown {
    // The session's number; 0 means no session.
    virtual HRESULT GetSessionNumber(LONG* number) = 0;
    // A named object of the session ("DovSessionManager" is its manager);
    // `*object` receives an AddRef'd pointer, or null with a failure code.
    virtual HRESULT GetSessionObject(BSTR name, IUnknown** object) = 0;

  protected:
    ~IDovTestSession() = default;
};

// The test session's manager, told of every fatal error.
struct IDovSessionManager : public IUnknown {
    // `text` stays the caller's.
    virtual HRESULT ReportFatalError(LONG sessionNumber, BSTR text) = 0;

  protected:
    ~IDovSessionManager() = default;
};

HOST_INTERFACE_ID(IDovErrorLookup, IID_IDovErrorLookup);
HOST_INTERFACE_ID(IDovTestSession, IID_IDovTestSession);
HOST_INTERFACE_ID(IDovSessionManager, IID_IDovSessionManager);
