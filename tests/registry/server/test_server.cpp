// A minimal in-process server: a class factory for ITestProbe objects. The
// tests register it by hand.
#include "test_server.h"

#include <host/export.h>
#include <atomic>

namespace {

std::atomic<LONG> g_counter{0};

class Probe : public host::ComObject<ITestProbe> {
  public:
    LONG Next() override { return ++g_counter; }
};

}  // namespace

extern "C" HOST_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_TestProbe && clsid != CLSID_TestProbeByHand)
        return CLASS_E_CLASSNOTAVAILABLE;
    host::ComPtr<host::ClassFactory<Probe>> factory = host::make_com<host::ClassFactory<Probe>>();
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}
