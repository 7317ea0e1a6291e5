// The embedded connection point: cookies, sink references, codes, and
// firing while sinks change the subscriptions.
#include "sinks.h"

#include <host/connpt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using testsinks::RecordingSink;
using testsinks::UnrelatedSink;

// An object with two connection points.
class Source : public host::ComObject<IConnectionPointContainer> {
  public:
    Source() : m_Ports(this), m_Controller(this) {}
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** pp) override {
        return host::NoEnumConnectionPoints(pp);
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override {
        return host::FindConnectionPointIn(riid, pp, {&m_Ports, &m_Controller});
    }
    std::size_t FireAdded(LONG port) {
        return m_Ports.Fire([port](IIntPortSelectorEvents* s) { s->OnPortAdded(port); });
    }
    host::ConnectionPoint<IIntPortSelectorEvents> m_Ports;
    host::ConnectionPoint<IIntTestControllerEvents> m_Controller;
};

host::ComPtr<IConnectionPoint> Point(Source& source, REFIID riid) {
    host::ComPtr<IConnectionPoint> point;
    EXPECT_EQ(source.FindConnectionPoint(riid, point.put()), S_OK);
    return point;
}

TEST(ConnectionPoint, FindsEachEventsInterfaceAndRefusesOthers) {
    auto source = host::make_com<Source>();
    IConnectionPoint* point = reinterpret_cast<IConnectionPoint*>(0x1);
    EXPECT_EQ(source->FindConnectionPoint(IID_IIntTestSessionGuardEvents, &point),
              CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point, nullptr);
    EXPECT_EQ(source->FindConnectionPoint(IID_IIntPortSelectorEvents, nullptr), E_POINTER);

    for (const IID* iid : {&IID_IIntPortSelectorEvents, &IID_IIntTestControllerEvents}) {
        host::ComPtr<IConnectionPoint> found = Point(*source, *iid);
        ASSERT_TRUE(found);
        IID reported = GUID_NULL;
        EXPECT_EQ(found->GetConnectionInterface(&reported), S_OK);
        EXPECT_EQ(reported, *iid);
        host::ComPtr<IConnectionPointContainer> container;
        EXPECT_EQ(found->GetConnectionPointContainer(container.put()), S_OK);
        EXPECT_EQ(container.get(), static_cast<IConnectionPointContainer*>(source.get()));
        host::ComPtr<IEnumConnections> connections;
        EXPECT_EQ(found->EnumConnections(connections.put()), E_NOTIMPL);
        EXPECT_FALSE(connections);
    }
    host::ComPtr<IEnumConnectionPoints> points;
    EXPECT_EQ(source->EnumConnectionPoints(points.put()), E_NOTIMPL);
    EXPECT_EQ(source->ref_count(), 1u);
}

TEST(ConnectionPoint, HeldPointKeepsItsObjectAlive) {
    auto source = host::make_com<Source>();
    host::ComPtr<IConnectionPoint> point = Point(*source, IID_IIntPortSelectorEvents);
    EXPECT_EQ(source->ref_count(), 2u);
    auto sink = host::make_com<RecordingSink>();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->identity(), &cookie), S_OK);
    source.reset();  // the point's reference keeps the object
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(sink->ref_count(), 1u);
}

TEST(ConnectionPoint, AdviseRefusesBadSinksWithZeroCookie) {
    auto source = host::make_com<Source>();
    host::ComPtr<IConnectionPoint> point = Point(*source, IID_IIntPortSelectorEvents);
    auto unrelated = host::make_com<UnrelatedSink>();
    DWORD cookie = 77;
    EXPECT_EQ(point->Advise(unrelated->identity(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(unrelated->ref_count(), 1u);
    cookie = 77;
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 0u);
    auto sink = host::make_com<RecordingSink>();
    EXPECT_EQ(point->Advise(sink->identity(), nullptr), E_POINTER);
    EXPECT_EQ(sink->ref_count(), 1u);
    EXPECT_EQ(source->m_Ports.ConnectionCount(), 0u);
}

TEST(ConnectionPoint, CookiesAreDistinctAndUnadviseGivesBackTheReference) {
    auto source = host::make_com<Source>();
    host::ComPtr<IConnectionPoint> point = Point(*source, IID_IIntPortSelectorEvents);
    auto sink = host::make_com<RecordingSink>();
    std::vector<DWORD> cookies;
    for (int i = 0; i < 5; ++i) {
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(sink->identity(), &cookie), S_OK);
        EXPECT_NE(cookie, 0u);
        for (DWORD earlier : cookies)
            EXPECT_NE(cookie, earlier);
        cookies.push_back(cookie);
    }
    EXPECT_EQ(sink->ref_count(), 6u);
    EXPECT_EQ(source->FireAdded(7), 5u);  // one call per connection
    EXPECT_EQ(point->Unadvise(cookies[2]), S_OK);
    EXPECT_EQ(point->Unadvise(cookies[2]), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0xDEAD), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink->ref_count(), 5u);  // the failed calls released nothing

    // The other point numbers its own connections.
    host::ComPtr<IConnectionPoint> other = Point(*source, IID_IIntTestControllerEvents);
    EXPECT_EQ(other->Unadvise(cookies[0]), CONNECT_E_NOCONNECTION);

    // Destroying the object releases the sinks still connected.
    point.reset();
    other.reset();
    source.reset();
    EXPECT_EQ(sink->ref_count(), 1u);
}

TEST(ConnectionPoint, SinksChangingSubscriptionsDuringAPass) {
    auto source = host::make_com<Source>();
    host::ComPtr<IConnectionPoint> point = Point(*source, IID_IIntPortSelectorEvents);
    auto first = host::make_com<RecordingSink>();
    auto second = host::make_com<RecordingSink>();
    auto third = host::make_com<RecordingSink>();
    auto late = host::make_com<RecordingSink>();
    DWORD c1 = 0, c2 = 0, c3 = 0, cLate = 0;
    ASSERT_EQ(point->Advise(first->identity(), &c1), S_OK);
    ASSERT_EQ(point->Advise(second->identity(), &c2), S_OK);
    ASSERT_EQ(point->Advise(third->identity(), &c3), S_OK);
    // The first sink, in its event, unadvises itself and the third and
    // advises a late one.
    first->m_OnEvent = [&](const std::string&) {
        if (cLate != 0)
            return;
        EXPECT_EQ(point->Unadvise(c1), S_OK);
        EXPECT_EQ(point->Unadvise(c3), S_OK);
        EXPECT_EQ(point->Advise(late->identity(), &cLate), S_OK);
    };
    EXPECT_EQ(source->FireAdded(1), 2u);
    EXPECT_EQ(first->Events(), std::vector<std::string>{"added 1"});
    EXPECT_EQ(second->Events(), std::vector<std::string>{"added 1"});
    EXPECT_TRUE(third->Events().empty());  // unadvised before its turn
    EXPECT_TRUE(late->Events().empty());   // advised after the pass began

    EXPECT_EQ(source->FireAdded(2), 2u);
    EXPECT_EQ(first->Count(), 1u);
    EXPECT_EQ(second->Count(), 2u);
    EXPECT_EQ(late->Events(), std::vector<std::string>{"added 2"});
    EXPECT_EQ(first->ref_count(), 1u);
    EXPECT_EQ(third->ref_count(), 1u);
    source->m_Ports.DisconnectAll();
    EXPECT_EQ(second->ref_count(), 1u);
    EXPECT_EQ(late->ref_count(), 1u);
}

TEST(ConnectionPoint, SinkReleasedByItsOwnEventLivesUntilThePassIsDone) {
    auto source = host::make_com<Source>();
    host::ComPtr<IConnectionPoint> point = Point(*source, IID_IIntPortSelectorEvents);
    int before = testsinks::g_liveSinks.load();
    RecordingSink* sink = new RecordingSink;  // the connection gets the only other reference
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->identity(), &cookie), S_OK);
    sink->Release();
    sink->m_OnEvent = [&](const std::string&) {
        // Drops the connection's reference; the pass still holds one, so the
        // sink's own code may go on running (the sanitizer checks it).
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        EXPECT_EQ(sink->Count(), 1u);
    };
    EXPECT_EQ(source->FireAdded(3), 1u);
    EXPECT_EQ(testsinks::g_liveSinks.load(), before);
}

// Threads advise, fire and unadvise at once: every call reaches a live sink,
// and at the end every reference is back.
TEST(ConnectionPoint, ConcurrentAdviseFireUnadvise) {
    auto source = host::make_com<Source>();
    host::ComPtr<IConnectionPoint> point = Point(*source, IID_IIntPortSelectorEvents);
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<host::ComPtr<RecordingSink>> sinks;
    for (int i = 0; i < kThreads; ++i)
        sinks.push_back(host::make_com<RecordingSink>());
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread firer([&] {
        while (!stop.load())
            source->FireAdded(1);
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                DWORD cookie = 0;
                if (point->Advise(sinks[t]->identity(), &cookie) != S_OK || cookie == 0)
                    ++failures;
                if (point->Unadvise(cookie) != S_OK)
                    ++failures;
                if (point->Unadvise(cookie) != CONNECT_E_NOCONNECTION)
                    ++failures;
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    stop.store(true);
    firer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(source->m_Ports.ConnectionCount(), 0u);
    for (auto& sink : sinks)
        EXPECT_EQ(sink->ref_count(), 1u);
}

}  // namespace
