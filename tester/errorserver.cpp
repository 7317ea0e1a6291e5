#include <tester/errorserver.h>

#include <host/comptr.h>
#include <host/oleauto.h>

#include <cstdio>
#include <mutex>

namespace tester {
namespace {

struct MessageEntry {
    std::uint32_t code;
    const char* text;
};

// Texts of the library's own codes follow their meanings; the COM ones are
// the usual wording of those codes.
constexpr MessageEntry kMessages[] = {
    {0x00000000u, "The operation completed successfully."},
    {0x00000001u, "The operation completed with a false result."},
    {0x80040203u, "The safe array is invalid: its element size is wrong."},
    {0x80040204u, "The destination array is too small."},
    {0x80040206u, "The system has run out of handles."},
    {0x80040208u, "The registry value cannot be accessed or has the wrong type."},
    {0x8004020Au, "The value or name was not found."},
    {0x8004020Eu, "The object is in the wrong state for this operation."},
    {0x80040210u, "The host refused an operation on a synchronisation object."},
    {0x80040212u, "There are no more items to enumerate."},
    {0x80040225u, "The text is not a valid IP address."},
    {0x80040227u, "The text is not a valid MAC address."},
    {0x80040502u, "The server cannot list the ports of the group."},
    {0x80040503u, "A port of the group is already in the list."},
    {0x80004001u, "Not implemented."},
    {0x80004002u, "No such interface supported."},
    {0x80004003u, "Invalid pointer."},
    {0x80004004u, "Operation aborted."},
    {0x80004005u, "Unspecified error."},
    {0x8000FFFFu, "Catastrophic failure."},
    {0x80070005u, "Access is denied."},
    {0x80070006u, "The handle is invalid."},
    {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
    {0x80070057u, "The parameter is incorrect."},
    {0x80040110u, "Class does not support aggregation."},
    {0x80040111u, "Class object is not available."},
    {0x80040154u, "Class not registered."},
    {0x800401F0u, "COM has not been initialised on this thread."},
    {0x80040200u, "The connection does not exist."},
    {0x80040202u, "The sink cannot be connected: it lacks the events interface."},
    {0x8002000Bu, "The array index is out of bounds."},
};

class ErrorServer : public host::ComObject<IDovErrorLookup> {
  public:
    HRESULT LookupMessage(LONG code, BSTR* message) override {
        if (message == nullptr)
            return E_POINTER;
        std::string text = StandardMessage(code);
        host::wstring wide;
        wide.reserve(text.size());
        for (char c : text)
            wide.push_back(static_cast<unsigned char>(c));  // ASCII texts
        *message = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        return *message != nullptr ? S_OK : E_OUTOFMEMORY;
    }
};

std::mutex gRegistrationLock;
int gRegistrations = 0;  // guarded by gRegistrationLock
DWORD gCookie = 0;       // guarded by gRegistrationLock

}  // namespace

std::string StandardMessage(LONG code) {
    const auto pattern = static_cast<std::uint32_t>(code);
    for (const MessageEntry& entry : kMessages) {
        if (entry.code == pattern)
            return std::string(entry.text) + "\r\n";
    }
    char text[64];
    std::snprintf(text, sizeof text, "Unknown error 0x%08x.\r\n", pattern);
    return text;
}

IDovErrorLookup* CreateErrorServer() {
    return host::make_com<ErrorServer>().detach();
}

HRESULT RegisterErrorServer() {
    std::lock_guard<std::mutex> hold(gRegistrationLock);
    if (gRegistrations > 0) {
        ++gRegistrations;
        return S_OK;
    }
    host::ComPtr<host::ClassFactory<ErrorServer>> factory =
        host::make_com<host::ClassFactory<ErrorServer>>();
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = CoRegisterClassObject(CLSID_DovErrorLookup, factory->identity(),
                                       CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &gCookie);
    if (SUCCEEDED(hr))
        gRegistrations = 1;
    return hr;
}

void RevokeErrorServer() {
    std::lock_guard<std::mutex> hold(gRegistrationLock);
    if (gRegistrations == 0 || --gRegistrations > 0)
        return;
    CoRevokeClassObject(gCookie);
    gCookie = 0;
}

}  // namespace tester
