// Helpers for using and writing COM objects: the interface-identifier trait,
// `host::ComPtr<T>` (a reference-owning interface pointer), `host::ComObject`
// (a reference-counting base that implements IUnknown) and
// `host::ClassFactory<T>` (a class object that makes instances of T).
//
// Interface identifiers. Each interface names its IID once, next to its
// declaration, at global namespace scope:
//
//     struct IFoo : IUnknown { virtual HRESULT Foo() = 0; };
//     DEFINE_GUID(IID_IFoo, 0x12345678, ...);
//     HOST_INTERFACE_ID(IFoo, IID_IFoo);
//
// An interface that extends another than IUnknown names its base too, so that
// objects answer QueryInterface for the base as well:
//
//     struct IFoo2 : IFoo { ... };
//     HOST_INTERFACE_ID_DERIVED(IFoo2, IFoo, IID_IFoo2);
//
// `host::iid_of<IFoo>()` then yields IID_IFoo. The trait lives outside the
// interface so that an interface stays a plain abstract struct.
//
// Writing an object:
//
//     class Foo : public host::ComObject<IFoo, IBar> {
//       public:
//         HRESULT Foo() override { ... }
//     };
//     host::ComPtr<Foo> foo = host::make_com<Foo>();
//
// A new ComObject starts with one reference, owned by whoever constructed it
// (make_com hands that reference to the ComPtr it returns). Objects must live
// on the heap, made with `new` (make_com does it), because the last Release
// deletes them; never create one on the stack or as a member.
//
// Thread safety: the reference count is atomic, so references may be taken
// and dropped on any thread. A ComPtr itself is as thread-safe as a raw
// pointer: one ComPtr must not be modified by two threads at once.
#pragma once

#include <host/com.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

namespace host {

// ---- Interface identifiers -----------------------------------------------------

// Specialised by HOST_INTERFACE_ID for each interface: `value` is its IID,
// `base` the interface it extends (void for IUnknown itself).
template <class Interface>
struct interface_id;

template <>
struct interface_id<IUnknown> {
    static constexpr const IID& value = IID_IUnknown;
    using base = void;
};

template <>
struct interface_id<IClassFactory> {
    static constexpr const IID& value = IID_IClassFactory;
    using base = IUnknown;
};

// The IID of `Interface`.
template <class Interface>
constexpr const IID& iid_of() {
    return interface_id<Interface>::value;
}

}  // namespace host

// Names `iid` as the identifier of `Interface`, which extends IUnknown
// directly. Use at global namespace scope.
#define HOST_INTERFACE_ID(Interface, iid) HOST_INTERFACE_ID_DERIVED(Interface, ::IUnknown, iid)

// Names `iid` as the identifier of `Interface`, which extends `Base`. Use at
// global namespace scope.
#define HOST_INTERFACE_ID_DERIVED(Interface, Base, iid)                  \
    template <>                                                          \
    struct host::interface_id<Interface> {                               \
        static_assert(std::is_base_of_v<Base, Interface>, "wrong base"); \
        static constexpr const IID& value = iid;                         \
        using base = Base;                                               \
    }

namespace host {

// ---- ComPtr ----------------------------------------------------------------------

// Owns one reference on an interface pointer (or holds null). Copying adds a
// reference, moving transfers it, destruction and reset give it back.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Shares `pointer`: adds a reference of its own.
    explicit ComPtr(T* pointer) : m_pointer(pointer) { add_ref(); }
    ComPtr(const ComPtr& other) : m_pointer(other.m_pointer) { add_ref(); }
    ComPtr(ComPtr&& other) noexcept : m_pointer(other.detach()) {}
    // From a pointer to a derived type (an object to one of its interfaces).
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& other) : m_pointer(other.get()) {
        add_ref();
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(ComPtr<U>&& other) noexcept : m_pointer(other.detach()) {}
    ~ComPtr() { release(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        reset();
        return *this;
    }

    T* get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    T& operator*() const { return *m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

    // Gives the reference back and holds null.
    void reset() { ComPtr().swap(*this); }

    // Takes over a reference the caller owns, without adding one; the
    // reference held before is given back.
    void attach(T* pointer) {
        release();
        m_pointer = pointer;
    }

    // Hands the held reference to the caller, who must Release it; holds null.
    T* detach() { return std::exchange(m_pointer, nullptr); }

    // For out-parameters (`T**`) that return an AddRef'd pointer: gives back
    // the reference held before and returns the place to store the new one.
    T** put() {
        release();
        return &m_pointer;
    }
    // put() as `void**`, for QueryInterface and CoCreateInstance.
    void** put_void() { return reinterpret_cast<void**>(put()); }

    // This object's `U` interface, or null when it has none (or this is null).
    template <class U>
    ComPtr<U> as() const {
        ComPtr<U> result;
        if (m_pointer != nullptr)
            m_pointer->QueryInterface(iid_of<U>(), result.put_void());
        return result;
    }

    void swap(ComPtr& other) noexcept { std::swap(m_pointer, other.m_pointer); }

  private:
    void add_ref() {
        if (m_pointer != nullptr)
            m_pointer->AddRef();
    }
    void release() {
        if (T* old = std::exchange(m_pointer, nullptr))
            old->Release();
    }

    T* m_pointer = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
    return a.get() == b.get();
}
template <class T, class U>
bool operator!=(const ComPtr<T>& a, const ComPtr<U>& b) {
    return a.get() != b.get();
}

// Constructs a T with `new` and hands its initial reference to a ComPtr. T is
// a ComObject (or any object that starts with one reference). Null when memory
// is exhausted.
template <class T, class... Args>
ComPtr<T> make_com(Args&&... args) {
    ComPtr<T> result;
    result.attach(new (std::nothrow) T(std::forward<Args>(args)...));
    return result;
}

// ---- ComObject -------------------------------------------------------------------

// Implements IUnknown for an object exposing `Interfaces...` (each with an
// interface_id, each listed once). QueryInterface answers IID_IUnknown (always
// with the first interface's pointer, the object's identity), each listed
// interface and the interfaces they extend; anything else is E_NOINTERFACE.
// A derived class may override QueryInterface to answer more and fall back on
// this one. The count starts at 1; the object deletes itself at 0.
template <class... Interfaces>
class ComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "a COM object has at least one interface");

  public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = find_interface(riid);
        if (*ppv == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override {
        // acq_rel: every other holder's last use happens before the delete.
        ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }

    // The current count, for tests and diagnostics; stale as soon as read
    // when other threads hold references.
    ULONG ref_count() const { return m_refs.load(std::memory_order_relaxed); }

    // The object's identity: its IUnknown as QueryInterface returns it,
    // without a reference added.
    IUnknown* identity() { return static_cast<IUnknown*>(static_cast<first_interface*>(this)); }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;

  private:
    using first_interface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    // Whether `Interface` or one of the interfaces it extends has `riid`.
    template <class Interface>
    static bool extends(REFIID riid) {
        if constexpr (std::is_void_v<Interface>) {
            return false;
        } else {
            return riid == iid_of<Interface>() ||
                   extends<typename interface_id<Interface>::base>(riid);
        }
    }

    void* find_interface(REFIID riid) {
        if (riid == IID_IUnknown)
            return identity();
        void* found = nullptr;
        // The first listed interface that extends `riid` provides it.
        static_cast<void>(
            ((extends<Interfaces>(riid) && (found = static_cast<Interfaces*>(this), true)) || ...));
        return found;
    }

    std::atomic<ULONG> m_refs{1};
};

// ---- ClassFactory ------------------------------------------------------------------

// A class object whose CreateInstance makes a T with make_com<T>() and returns
// the asked-for interface. T is default-constructible and cannot be aggregated
// (CLASS_E_NOAGGREGATION for a non-null outer). LockServer only counts, since
// nothing is ever unloaded here.
template <class T>
class ClassFactory : public ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        ComPtr<T> instance = make_com<T>();
        if (!instance)
            return E_OUTOFMEMORY;
        return instance->QueryInterface(riid, ppv);
    }

    HRESULT LockServer(BOOL lock) override {
        if (lock)
            m_locks.fetch_add(1, std::memory_order_relaxed);
        else
            m_locks.fetch_sub(1, std::memory_order_relaxed);
        return S_OK;
    }

    // LockServer(TRUE) calls not yet undone, for tests and diagnostics.
    LONG lock_count() const { return m_locks.load(std::memory_order_relaxed); }

  private:
    std::atomic<LONG> m_locks{0};
};

}  // namespace host
