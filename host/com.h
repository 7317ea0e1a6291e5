// The COM core: GUID comparison and constants, the two root interfaces
// (IUnknown, IClassFactory), per-thread COM initialisation, the process class
// table and object activation.
//
// Interfaces are plain abstract structs whose virtual functions make the
// vtable, in declaration order, exactly as COM lays it out. They have no
// virtual destructor (a destructor slot would shift every method); their
// destructors are protected and non-virtual so that nobody can `delete` an
// object through an interface pointer. An object frees itself when its
// reference count falls to zero in Release. `host/comptr.h` has a smart
// pointer and a reference-counting base for writing such objects.
//
// Threads: each thread enters COM with CoInitializeEx (or CoInitialize) and
// leaves with one CoUninitialize per successful call, S_FALSE included.
// Activation (CoGetClassObject, CoCreateInstance) and registration
// (CoRegisterClassObject) need a thread that has entered COM; revocation and
// the task allocator (included from here) work on any thread. There are no
// apartments and no marshalling: every object is called directly on the
// caller's thread, whatever model the thread chose, so objects shared between
// threads must be thread-safe themselves.
//
// The class table is process-wide and thread-safe. It never calls into a
// registered object while holding its lock, so a class object may register,
// revoke or activate classes from inside its own methods.
#pragma once

#include <host/export.h>
#include <host/taskalloc.h>
#include <host/types.h>

// ---- GUID comparison ----------------------------------------------------------

// True when the two identifiers are equal in all 16 bytes.
constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i])
            return false;
    }
    return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}

constexpr bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
constexpr bool operator!=(REFGUID a, REFGUID b) {
    return !IsEqualGUID(a, b);
}

// A strict total order for use as a map key: Data1, Data2 and Data3 as
// numbers, then the bytes of Data4 in order. It has no other meaning.
constexpr bool operator<(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1)
        return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2)
        return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3)
        return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i])
            return a.Data4[i] < b.Data4[i];
    }
    return false;
}

// ---- GUID constants -------------------------------------------------------------

// Defines a GUID constant in a header: one object for the whole program, usable
// in constant expressions. Spelled as the 11 numbers of the braced text, e.g.
// {00000001-0000-0000-C000-000000000046} is
// DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000,
//             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46).
// Unlike some COM headers, no INITGUID switch is needed: the definition is
// always complete.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

// {00000000-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);
// {00000001-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);

// ---- Root interfaces ------------------------------------------------------------

// The root of every interface.
struct IUnknown {
    // riid supported: `*ppv` receives the interface pointer, already AddRef'd,
    // and S_OK is returned. Unsupported: E_NOINTERFACE and `*ppv` null. A null
    // `ppv` gives E_POINTER. Asking for IID_IUnknown through any interface of
    // one object yields the same pointer value (the object's identity).
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    // Adds a reference; returns the new count, for diagnostics only.
    virtual ULONG AddRef() = 0;
    // Drops a reference; the object frees itself when none is left. Returns
    // the new count, for diagnostics only (0 means the object is gone).
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};

// A class object that makes instances of one class.
struct IClassFactory : public IUnknown {
    // Makes a new instance and returns its `riid` interface in `*ppv`. With a
    // non-null `outer` the caller aggregates the new object and must ask for
    // IID_IUnknown; a class that cannot be aggregated returns
    // CLASS_E_NOAGGREGATION. `*ppv` is null on every failure.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    // TRUE asks the server to stay loaded, FALSE undoes one such request.
    virtual HRESULT LockServer(BOOL lock) = 0;

  protected:
    ~IClassFactory() = default;
};

// Remote activation is not offered; the type exists for the signatures.
struct COSERVERINFO;

extern "C" {

// ---- Initialisation -------------------------------------------------------------

// Enters COM on the calling thread. `reserved` must be null. `coInit` is
// COINIT_MULTITHREADED or COINIT_APARTMENTTHREADED, optionally with
// COINIT_DISABLE_OLE1DDE and COINIT_SPEED_OVER_MEMORY (accepted, no effect).
// Returns S_OK on the first call of the thread, S_FALSE when the thread has
// already entered COM with the same model (both need a CoUninitialize),
// RPC_E_CHANGED_MODE when it entered with the other model (the thread keeps
// its model; do not balance this call), E_INVALIDARG for a non-null `reserved`
// or unknown flags. Threads are independent of one another.
HOST_API HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);

// CoInitializeEx(reserved, COINIT_APARTMENTTHREADED).
HOST_API HRESULT CoInitialize(LPVOID reserved);

// Balances one successful CoInitializeEx of the calling thread; the last one
// leaves COM, after which the thread may enter again with any model. Extra
// calls on a thread that is not in COM are ignored. Class objects registered
// by the thread stay registered until revoked.
HOST_API void CoUninitialize();

// ---- Activation ---------------------------------------------------------------

// The class object for `clsid`, as its `riid` interface (normally
// IID_IClassFactory), AddRef'd in `*ppv`. Looks first in the process class
// table (the newest visible registration of the class wins), then asks the
// in-process server registered for the class in the registry. Every context
// mask is accepted and none is compared: all servers here run in the caller's
// process. `serverInfo` must be null.
// Returns S_OK; E_POINTER for a null `ppv`; E_INVALIDARG for a non-null
// `serverInfo`; CO_E_NOTINITIALIZED on a thread that has not entered COM;
// REGDB_E_CLASSNOTREG when no one provides the class; E_NOINTERFACE when the
// class object lacks `riid`; or a failure of loading its server. `*ppv` is
// null on every failure.
HOST_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, COSERVERINFO* serverInfo,
                                  REFIID riid, LPVOID* ppv);

// A new instance of `clsid`: its class factory's CreateInstance(outer, riid,
// ppv), the factory released afterwards. Same lookup and codes as
// CoGetClassObject (a class object without IClassFactory gives
// E_NOINTERFACE), plus whatever CreateInstance returns (E_NOINTERFACE,
// CLASS_E_NOAGGREGATION, ...). A factory that reports success without an
// object gives E_UNEXPECTED. `*ppv` is null on every failure.
HOST_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                                  LPVOID* ppv);

// ---- Class table ----------------------------------------------------------------

// Registers `object` as the class object of `clsid` for the whole process and
// AddRefs it; `*cookie` receives a nonzero value that no other registration of
// this process has had or will have. Registering a class again adds an
// independent registration, which then wins until it is revoked.
// `flags`: REGCLS_SINGLEUSE (0) hides the registration after the first
// activation that finds it (it must still be revoked); REGCLS_MULTIPLEUSE and
// REGCLS_MULTI_SEPARATE keep it visible; REGCLS_SUSPENDED keeps it hidden until
// CoResumeClassObjects. REGCLS_SURROGATE and REGCLS_AGILE are accepted.
// The context mask is accepted and not compared.
// Returns S_OK; E_INVALIDARG for a null `object` or `cookie` or unknown flags
// (`*cookie` is 0 then, when it can be written); CO_E_NOTINITIALIZED on a
// thread that has not entered COM; E_OUTOFMEMORY when memory or cookies run
// out.
HOST_API HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* object, DWORD clsContext,
                                       DWORD flags, LPDWORD cookie);

// Removes the registration named by `cookie` and releases the reference it
// took. Activations already under way keep the object alive until they are
// done, so the release may come a little later, on their thread. Works on any
// thread, in COM or not. E_INVALIDARG for a cookie that names no registration
// (never issued, or already revoked).
HOST_API HRESULT CoRevokeClassObject(DWORD cookie);

// Makes every registration made with REGCLS_SUSPENDED visible. Returns S_OK.
HOST_API HRESULT CoResumeClassObjects();

}  // extern "C"
