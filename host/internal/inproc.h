// In-process server activation through the registry: the part of
// CoGetClassObject that looks a class up under
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, loads the shared object named
// by its default value with dlopen and asks its DllGetClassObject.
#pragma once

#include <host/types.h>

namespace host {

// Returns the class object for `clsid` from a registered in-process server,
// or REGDB_E_CLASSNOTREG when no server is registered for it, or the failure
// of loading it or of its DllGetClassObject. `*ppv` is null on any failure.
HRESULT inproc_class_object(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace host
