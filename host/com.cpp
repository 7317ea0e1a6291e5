#include <host/com.h>

#include <host/internal/inproc.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

// ---- Per-thread initialisation ----------------------------------------------------

constexpr DWORD kKnownInitFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

// How often the calling thread has entered COM, and with which model
// (COINIT_APARTMENTTHREADED or COINIT_MULTITHREADED). Only its own thread
// touches it.
struct thread_com_state {
    std::uint64_t depth = 0;
    DWORD model = COINIT_MULTITHREADED;
};

thread_local thread_com_state t_com;

bool thread_in_com() {
    return t_com.depth != 0;
}

// ---- Class table ------------------------------------------------------------------

constexpr DWORD kKnownRegisterFlags = REGCLS_MULTIPLEUSE | REGCLS_MULTI_SEPARATE |
                                      REGCLS_SUSPENDED | 0x8 /* surrogate */ | 0x10 /* agile */;

// One registration's reference on its class object. Whoever drops the last
// pin releases the object, which is why pins are only ever dropped outside
// the table's lock: Release runs user code that may call back into the table.
class registration {
  public:
    explicit registration(IUnknown* object) : m_object(object) { m_object->AddRef(); }
    ~registration() { m_object->Release(); }
    registration(const registration&) = delete;
    registration& operator=(const registration&) = delete;

    IUnknown* object() const { return m_object; }

  private:
    IUnknown* const m_object;
};

using pin = std::shared_ptr<registration>;

struct table_entry {
    CLSID clsid;
    pin object;
    bool single_use;
    bool hidden;  // suspended, or a single-use registration already used
    bool suspended;
};

class class_table {
  public:
    // Never destroyed: a destructor at exit would release objects whose code
    // may already be gone, and activations may still run on other threads.
    static class_table& get() {
        static class_table* const table = new class_table();
        return *table;
    }

    // Adds a registration; 0 when the cookies are used up.
    DWORD add(REFCLSID clsid, pin object, DWORD flags) {
        std::lock_guard<std::mutex> guard(m_mutex);
        // Cookies are never reused, so that a stale cookie can never revoke
        // somebody else's registration; 2^32 - 1 registrations is the limit.
        if (m_next_cookie > 0xFFFFFFFFu)
            return 0;
        auto cookie = static_cast<DWORD>(m_next_cookie++);
        bool single_use = (flags & (REGCLS_MULTIPLEUSE | REGCLS_MULTI_SEPARATE)) == 0;
        bool suspended = (flags & REGCLS_SUSPENDED) != 0;
        m_entries.emplace(cookie,
                          table_entry{clsid, std::move(object), single_use, suspended, suspended});
        return cookie;
    }

    // Takes the registration out of the table; an empty pin for a cookie that
    // names none.
    pin remove(DWORD cookie) {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_entries.find(cookie);
        if (it == m_entries.end())
            return pin();
        pin object = std::move(it->second.object);
        m_entries.erase(it);
        return object;
    }

    // The newest visible registration of `clsid`, pinned so that a concurrent
    // revoke cannot free it; an empty pin when there is none. A single-use
    // registration is used up by being found.
    pin find(REFCLSID clsid) {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
            table_entry& entry = it->second;
            if (entry.hidden || entry.clsid != clsid)
                continue;
            if (entry.single_use)
                entry.hidden = true;
            return entry.object;
        }
        return pin();
    }

    void resume() {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto& [cookie, entry] : m_entries) {
            if (!entry.suspended)
                continue;
            entry.suspended = false;
            entry.hidden = false;
        }
    }

  private:
    class_table() = default;

    std::mutex m_mutex;
    std::uint64_t m_next_cookie = 1;         // guarded by m_mutex
    std::map<DWORD, table_entry> m_entries;  // guarded by m_mutex; ordered by age
};

// A success that hands back no pointer would crash the caller later; report
// it where it happens instead.
HRESULT checked_result(HRESULT hr, void** ppv) {
    if (FAILED(hr)) {
        *ppv = nullptr;
        return hr;
    }
    return *ppv == nullptr ? E_UNEXPECTED : hr;
}

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    if (reserved != nullptr || (coInit & ~kKnownInitFlags) != 0)
        return E_INVALIDARG;
    DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (!thread_in_com()) {
        t_com.depth = 1;
        t_com.model = model;
        return S_OK;
    }
    if (t_com.model != model)
        return RPC_E_CHANGED_MODE;
    ++t_com.depth;
    return S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    if (thread_in_com())
        --t_com.depth;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD /*clsContext*/, COSERVERINFO* serverInfo,
                         REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (serverInfo != nullptr)
        return E_INVALIDARG;
    if (!thread_in_com())
        return CO_E_NOTINITIALIZED;

    pin registered = class_table::get().find(clsid);
    if (registered)
        return checked_result(registered->object()->QueryInterface(riid, ppv), ppv);
    return checked_result(host::inproc_class_object(clsid, riid, ppv), ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, clsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return checked_result(hr, ppv);
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* object, DWORD /*clsContext*/, DWORD flags,
                              LPDWORD cookie) {
    if (cookie == nullptr)
        return E_INVALIDARG;
    *cookie = 0;
    if (object == nullptr || (flags & ~kKnownRegisterFlags) != 0)
        return E_INVALIDARG;
    if (!thread_in_com())
        return CO_E_NOTINITIALIZED;

    // AddRef happens here, outside the table's lock; a failed registration
    // gives the reference back when `held` goes out of scope.
    pin held;
    try {
        held = std::make_shared<registration>(object);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    DWORD issued = 0;
    try {
        issued = class_table::get().add(clsid, held, flags);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (issued == 0)
        return E_OUTOFMEMORY;
    *cookie = issued;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    pin removed = class_table::get().remove(cookie);
    if (!removed)
        return E_INVALIDARG;
    // `removed` is dropped here, outside the lock: this releases the object
    // unless an activation still holds a pin, which then releases it.
    return S_OK;
}

HRESULT CoResumeClassObjects() {
    class_table::get().resume();
    return S_OK;
}

}  // extern "C"
