// Connection points: how a COM object fires events at the sinks its clients
// hand it.
//
// Client side. A client asks the object for IConnectionPointContainer, finds
// the connection point of the events interface it implements
// (FindConnectionPoint), and calls Advise with its sink; the cookie it gets
// back names the connection until Unadvise. Cookies are nonzero and unique
// within one connection point (two points may hand out the same number).
//
// Server side. `host::ConnectionPoint<Sink>` is a connection point that any
// of our COM objects embeds as a member, one per events interface:
//
//     class Server : public host::ComObject<IServer, IConnectionPointContainer> {
//       public:
//         Server() : m_Events(this) {}
//         HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override {
//             return host::FindConnectionPointIn(riid, pp, {&m_Events});
//         }
//         HRESULT EnumConnectionPoints(IEnumConnectionPoints** pp) override {
//             return host::NoEnumConnectionPoints(pp);
//         }
//         void Tick() { m_Events.Fire([](IServerEvents* s) { s->OnTick(); }); }
//       private:
//         host::ConnectionPoint<IServerEvents> m_Events;
//     };
//
// The embedded point has no reference count of its own: AddRef and Release
// go to the containing object, so a client that holds the point keeps the
// whole object alive (and GetConnectionPointContainer never returns a dead
// object). The point holds one reference on each connected sink, taken by
// Advise (as the events interface, obtained with QueryInterface) and given
// back by Unadvise, by DisconnectAll or when the point is destroyed.
//
// Firing. `Fire` calls every sink that was connected when the pass began, in
// the order the sinks were advised, and skips a sink as soon as it has been
// unadvised, so a sink may advise or unadvise any sink (itself included) from
// inside an event: a sink advised during a pass is first called by the next
// pass, a sink unadvised during a pass is not called again. The pass holds a
// reference on each sink it will call, so a sink released by Unadvise in the
// middle of a pass is freed only after the pass is done with it.
//
// Threads: every operation may be called from any thread. The point's lock
// is held only to change or copy its list of connections, never while a
// sink is called or released, so sinks may call the point back. Unadvise on
// one thread does not wait for a call in progress on another thread: that
// call may still run once after Unadvise has returned.
//
// Enumerating connections and connection points is not offered:
// EnumConnections and EnumConnectionPoints answer E_NOTIMPL.
#pragma once

#include <host/com.h>
#include <host/comptr.h>
#include <host/export.h>
#include <host/types.h>

#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

struct IConnectionPoint;
struct IConnectionPointContainer;

// One connection as IEnumConnections hands it out.
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};
typedef CONNECTDATA* LPCONNECTDATA;

// {B196B287-BAB4-101A-B69C-00AA00341D07}
DEFINE_GUID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34,
            0x1D, 0x07);
// {B196B285-BAB4-101A-B69C-00AA00341D07}
DEFINE_GUID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00,
            0x34, 0x1D, 0x07);
// {B196B286-BAB4-101A-B69C-00AA00341D07}
DEFINE_GUID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34,
            0x1D, 0x07);
// {B196B284-BAB4-101A-B69C-00AA00341D07}
DEFINE_GUID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00,
            0x34, 0x1D, 0x07);

// The connections of one connection point, one at a time.
struct IEnumConnections : public IUnknown {
    virtual HRESULT Next(ULONG count, LPCONNECTDATA items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;

  protected:
    ~IEnumConnections() = default;
};

// The connection points of one container, one at a time.
struct IEnumConnectionPoints : public IUnknown {
    virtual HRESULT Next(ULONG count, IConnectionPoint** items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;

  protected:
    ~IEnumConnectionPoints() = default;
};

// The place where sinks of one events interface connect to an object.
struct IConnectionPoint : public IUnknown {
    // The events interface's identifier; E_POINTER for a null `pIID`.
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    // The object this point belongs to, AddRef'd; E_POINTER for a null
    // out-pointer.
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    // Connects `sink`: asks it for the events interface and keeps that
    // reference; `*cookie` receives the connection's nonzero cookie.
    // E_POINTER for a null `sink` or `cookie`; CONNECT_E_CANNOTCONNECT when
    // the sink lacks the events interface; E_OUTOFMEMORY. `*cookie` is 0 on
    // every failure (when it can be written).
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    // Ends the connection `cookie` and releases its sink.
    // CONNECT_E_NOCONNECTION for a cookie that names no live connection of
    // this point (0, never issued, or already unadvised); nothing changes then.
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;

  protected:
    ~IConnectionPoint() = default;
};

// An object that fires events through connection points.
struct IConnectionPointContainer : public IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    // The connection point for the events interface `riid`, AddRef'd.
    // E_POINTER for a null `ppCP`; CONNECT_E_NOCONNECTION when the object
    // fires no such events. `*ppCP` is null on every failure.
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

  protected:
    ~IConnectionPointContainer() = default;
};

HOST_INTERFACE_ID(IEnumConnections, IID_IEnumConnections);
HOST_INTERFACE_ID(IEnumConnectionPoints, IID_IEnumConnectionPoints);
HOST_INTERFACE_ID(IConnectionPoint, IID_IConnectionPoint);
HOST_INTERFACE_ID(IConnectionPointContainer, IID_IConnectionPointContainer);

namespace host {

// The part of an embedded connection point that does not depend on the events
// interface's type. Use ConnectionPoint<Sink>.
class HOST_API ConnectionPointBase : public IConnectionPoint {
  public:
    ConnectionPointBase(const ConnectionPointBase&) = delete;
    ConnectionPointBase& operator=(const ConnectionPointBase&) = delete;

    // QueryInterface answers IID_IUnknown and IID_IConnectionPoint with this
    // point; AddRef and Release go to the container.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    // E_NOTIMPL; `*ppEnum` is null (E_POINTER for a null `ppEnum`).
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    // The events interface's identifier.
    const IID& EventsIid() const { return m_Events; }
    // Live connections; stale as soon as read when other threads advise.
    std::size_t ConnectionCount() const;
    // Ends every connection and releases the sinks (outside the lock). A
    // container whose sinks may hold references on it calls this at shutdown
    // to break the cycle.
    void DisconnectAll();

  protected:
    // `container` is the object this point is a member of (no reference is
    // taken: the point lives inside it); `events` the events interface.
    ConnectionPointBase(IConnectionPointContainer* container, REFIID events);
    // Releases every sink still connected.
    ~ConnectionPointBase();

    struct Connection {
        DWORD cookie;
        IUnknown* sink;  // the events interface, one reference owned
        std::atomic<bool> live{true};
        Connection(DWORD theCookie, IUnknown* theSink) : cookie(theCookie), sink(theSink) {}
        ~Connection() { sink->Release(); }
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;
    };
    typedef std::vector<std::shared_ptr<Connection>> Connections;

    // The live connections, oldest first, each kept alive by the copy.
    Connections Snapshot() const;

  private:
    // Asks `sink` for the events interface: S_OK with `*held` AddRef'd, or a
    // failure with `*held` null.
    virtual HRESULT QuerySink(IUnknown* sink, IUnknown** held) = 0;

    IConnectionPointContainer* const m_Container;
    const IID m_Events;
    mutable std::mutex m_Lock;
    Connections m_Connections;  // guarded by m_Lock; in advise order
    DWORD m_NextCookie = 1;     // guarded by m_Lock
};

// An embedded connection point for the events interface `Sink` (an interface
// with a HOST_INTERFACE_ID).
template <class Sink>
class ConnectionPoint final : public ConnectionPointBase {
  public:
    explicit ConnectionPoint(IConnectionPointContainer* container)
        : ConnectionPointBase(container, iid_of<Sink>()) {}

    // Calls `call(Sink*)` for each sink connected when the pass begins and
    // still connected when its turn comes, in advise order. Returns how many
    // sinks were called. Exceptions from `call` propagate (the rest of the
    // pass is skipped); sinks called from COM must not throw.
    template <class Call>
    std::size_t Fire(Call&& call) const {
        std::size_t called = 0;
        for (const auto& connection : Snapshot()) {
            if (!connection->live.load(std::memory_order_acquire))
                continue;
            call(static_cast<Sink*>(connection->sink));
            ++called;
        }
        return called;
    }

  private:
    HRESULT QuerySink(IUnknown* sink, IUnknown** held) override {
        Sink* events = nullptr;
        HRESULT hr = sink->QueryInterface(iid_of<Sink>(), reinterpret_cast<void**>(&events));
        if (FAILED(hr) || events == nullptr) {
            if (events != nullptr)
                events->Release();
            *held = nullptr;
            return FAILED(hr) ? hr : E_NOINTERFACE;
        }
        *held = events;
        return S_OK;
    }
};

// FindConnectionPoint over the points of one container: the point in `points`
// whose events interface is `riid`, AddRef'd, in `*ppCP`. E_POINTER for a null
// `ppCP`; CONNECT_E_NOCONNECTION when none matches.
HOST_API HRESULT FindConnectionPointIn(REFIID riid, IConnectionPoint** ppCP,
                                       std::initializer_list<ConnectionPointBase*> points);

// EnumConnectionPoints for containers that do not enumerate: E_NOTIMPL with
// `*ppEnum` null (E_POINTER for a null `ppEnum`).
HOST_API HRESULT NoEnumConnectionPoints(IEnumConnectionPoints** ppEnum);

}  // namespace host
