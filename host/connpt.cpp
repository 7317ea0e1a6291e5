#include <host/connpt.h>

#include <algorithm>
#include <new>
#include <utility>

namespace host {

ConnectionPointBase::ConnectionPointBase(IConnectionPointContainer* container, REFIID events)
    : m_Container(container), m_Events(events) {}

ConnectionPointBase::~ConnectionPointBase() {
    DisconnectAll();
}

HRESULT ConnectionPointBase::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG ConnectionPointBase::AddRef() {
    return m_Container->AddRef();
}

ULONG ConnectionPointBase::Release() {
    return m_Container->Release();
}

HRESULT ConnectionPointBase::GetConnectionInterface(IID* pIID) {
    if (pIID == nullptr)
        return E_POINTER;
    *pIID = m_Events;
    return S_OK;
}

HRESULT ConnectionPointBase::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (ppCPC == nullptr)
        return E_POINTER;
    m_Container->AddRef();
    *ppCPC = m_Container;
    return S_OK;
}

HRESULT ConnectionPointBase::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr)
        return E_POINTER;
    *cookie = 0;
    if (sink == nullptr)
        return E_POINTER;
    // Asked outside the lock: the sink's QueryInterface is outside code.
    IUnknown* held = nullptr;
    if (FAILED(QuerySink(sink, &held)) || held == nullptr)
        return CONNECT_E_CANNOTCONNECT;
    std::shared_ptr<Connection> connection;
    try {
        connection = std::make_shared<Connection>(0, held);
    } catch (const std::bad_alloc&) {
        held->Release();
        return E_OUTOFMEMORY;
    }
    std::shared_ptr<Connection> rejected;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        // The next number that is neither 0 nor in use: unique among the live
        // connections even after the counter wraps.
        for (;;) {
            DWORD candidate = m_NextCookie++;
            if (candidate == 0)
                continue;
            bool used = std::any_of(m_Connections.begin(), m_Connections.end(),
                                    [candidate](const auto& c) { return c->cookie == candidate; });
            if (!used) {
                connection->cookie = candidate;
                break;
            }
        }
        try {
            m_Connections.push_back(connection);
        } catch (const std::bad_alloc&) {
            rejected = std::move(connection);
        }
    }
    if (rejected) {
        rejected.reset();  // releases the sink, outside the lock
        return E_OUTOFMEMORY;
    }
    *cookie = connection->cookie;
    return S_OK;
}

HRESULT ConnectionPointBase::Unadvise(DWORD cookie) {
    std::shared_ptr<Connection> removed;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        auto found = std::find_if(m_Connections.begin(), m_Connections.end(),
                                  [cookie](const auto& c) { return c->cookie == cookie; });
        if (cookie == 0 || found == m_Connections.end())
            return CONNECT_E_NOCONNECTION;
        (*found)->live.store(false, std::memory_order_release);
        removed = std::move(*found);
        m_Connections.erase(found);
    }
    // The sink is released here, outside the lock (it may call us back), or
    // later by a firing pass that still holds it.
    removed.reset();
    return S_OK;
}

HRESULT ConnectionPointBase::EnumConnections(IEnumConnections** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    *ppEnum = nullptr;
    return E_NOTIMPL;
}

std::size_t ConnectionPointBase::ConnectionCount() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Connections.size();
}

void ConnectionPointBase::DisconnectAll() {
    Connections removed;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        for (const auto& connection : m_Connections)
            connection->live.store(false, std::memory_order_release);
        removed.swap(m_Connections);
    }
    removed.clear();
}

ConnectionPointBase::Connections ConnectionPointBase::Snapshot() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Connections;
}

HRESULT FindConnectionPointIn(REFIID riid, IConnectionPoint** ppCP,
                              std::initializer_list<ConnectionPointBase*> points) {
    if (ppCP == nullptr)
        return E_POINTER;
    *ppCP = nullptr;
    for (ConnectionPointBase* point : points) {
        if (point != nullptr && point->EventsIid() == riid) {
            point->AddRef();
            *ppCP = point;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT NoEnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum == nullptr)
        return E_POINTER;
    *ppEnum = nullptr;
    return E_NOTIMPL;
}

}  // namespace host
