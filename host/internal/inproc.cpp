#include <host/internal/inproc.h>

namespace host {

// Until the registry store exists, no in-process server is registered.
HRESULT inproc_class_object(REFCLSID, REFIID, void** ppv) {
    if (ppv != nullptr) *ppv = nullptr;
    return REGDB_E_CLASSNOTREG;
}

}  // namespace host
