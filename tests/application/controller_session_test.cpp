// CKesTestController against the simulated controller, and the guard-event
// subscriptions of CKesTestSession objects.
#include "support.h"

#include <atomic>
#include <functional>
#include <optional>

namespace {

using apptest::ProxyTest;
using tester::ControllerMethod;
using testsinks::RecordingSink;

class ControllerProxy : public ProxyTest {
  public:
    void SetUp() override {
        ProxyTest::SetUp();
        m_Controller->SetClock([this] { return m_Now.load(); });
        PublishController();
    }
    void TearDown() override {
        m_Holder.reset();  // gives its reference back before the counts are checked
        ProxyTest::TearDown();
    }
    std::atomic<LONG> m_Now{5000};
    std::optional<CKesTestController> m_Holder{std::in_place};
    CKesTestController& m_Proxy = *m_Holder;
};

TEST_F(ControllerProxy, GettersForwardValuesAndCodes) {
    tester::TestControllerConfig config;
    config.mode = DovTestModeTimed;
    config.duration = 30;
    config.samplingInterval = 250;
    config.trickleTime = 4;
    m_Controller->Configure(config);
    ASSERT_EQ(m_Controller->Start(), S_OK);
    m_Now = 5012;
    EDovTestState state = DovTestIdle;
    EDovTestMode mode = DovTestModeContinuous;
    LONG value = 0;
    EXPECT_EQ(m_Proxy.GetTestState(&state), S_OK);
    EXPECT_EQ(state, DovTestRunning);
    EXPECT_EQ(m_Proxy.GetTestMode(&mode), S_OK);
    EXPECT_EQ(mode, DovTestModeTimed);
    CKesTestController& proxy = m_Proxy;
    struct Case {
        std::function<LONG(LONG*)> getter;
        ControllerMethod method;
        LONG expected;
    };
    const Case cases[] = {
        {[&](LONG* p) { return proxy.GetTestDuration(p); }, ControllerMethod::GetTestDuration, 30},
        {[&](LONG* p) { return proxy.GetSamplingInterval(p); },
         ControllerMethod::GetSamplingInterval, 250},
        {[&](LONG* p) { return proxy.GetTrickleTime(p); }, ControllerMethod::GetTrickleTime, 4},
        {[&](LONG* p) { return proxy.GetStartTime(p); }, ControllerMethod::GetStartTime, 5000},
        {[&](LONG* p) { return proxy.GetElapsedTime(p); }, ControllerMethod::GetElapsedTime, 12},
    };
    for (const Case& c : cases) {
        value = -1;
        EXPECT_EQ(c.getter(&value), S_OK);
        EXPECT_EQ(value, c.expected);
        // A failure comes back unchanged and the output is not cleared.
        m_Controller->SetResult(c.method, E_ACCESSDENIED);
        value = -1;
        EXPECT_EQ(c.getter(&value), E_ACCESSDENIED);
        EXPECT_EQ(value, -1);
        m_Controller->SetResult(c.method, S_OK);
        // The pointer goes to the server as it is.
        EXPECT_EQ(c.getter(nullptr), E_POINTER);
    }
    EXPECT_EQ(m_Proxy.ResetTimestamps(), S_OK);
    EXPECT_EQ(m_Proxy.GetElapsedTime(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(ControllerAsserts().empty());
}

TEST_F(ControllerProxy, CanResetTimestampsPassesAnyCodeThrough) {
    ASSERT_EQ(m_Controller->Start(), S_OK);
    const HRESULT codes[] = {S_OK,
                             S_FALSE,
                             static_cast<HRESULT>(0x00040002),
                             0x7FFFFFFF,
                             E_FAIL,
                             static_cast<HRESULT>(0x80040777),
                             CO_E_NOTINITIALIZED};
    for (HRESULT code : codes) {
        m_Controller->SetResult(ControllerMethod::CanResetTimestamps, code);
        EXPECT_EQ(m_Proxy.CanResetTimestamps(), code);
    }
    m_Controller->SetResult(ControllerMethod::CanResetTimestamps, S_OK);
    ASSERT_EQ(m_Controller->Stop(), S_OK);
    EXPECT_EQ(m_Proxy.CanResetTimestamps(), S_FALSE);  // the server's own answer
    EXPECT_EQ(m_Proxy.ResetTimestamps(), E_UNEXPECTED);
}

TEST_F(ControllerProxy, NothingPublishedLeavesOutputsAlone) {
    CKesTestController::Unglobalize();
    CKesTestController proxy;
    EDovTestState state = DovTestStopped;
    EDovTestMode mode = DovTestModeSingleShot;
    LONG value = 77;
    auto sink = host::make_com<RecordingSink>();
    EXPECT_EQ(proxy.GetTestState(&state), E_NOINTERFACE);
    EXPECT_EQ(proxy.GetTestMode(&mode), E_NOINTERFACE);
    EXPECT_EQ(proxy.GetTestDuration(&value), E_NOINTERFACE);
    EXPECT_EQ(proxy.GetSamplingInterval(&value), E_NOINTERFACE);
    EXPECT_EQ(proxy.GetTrickleTime(&value), E_NOINTERFACE);
    EXPECT_EQ(proxy.GetStartTime(&value), E_NOINTERFACE);
    EXPECT_EQ(proxy.GetElapsedTime(&value), E_NOINTERFACE);
    EXPECT_EQ(proxy.ResetTimestamps(), E_NOINTERFACE);
    EXPECT_EQ(proxy.CanResetTimestamps(), E_NOINTERFACE);
    EXPECT_EQ(proxy.Advise(sink.get()), E_NOINTERFACE);
    EXPECT_EQ(proxy.Unadvise(), E_NOINTERFACE);
    EXPECT_EQ(state, DovTestStopped);
    EXPECT_EQ(mode, DovTestModeSingleShot);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(m_Controller->TotalCalls(), 0);
    EXPECT_EQ(sink->ref_count(), 1u);
}

TEST_F(ControllerProxy, EventsUntilUnadviseAndTheReportsAroundIt) {
    auto sink = host::make_com<RecordingSink>();
    EXPECT_EQ(m_Proxy.Unadvise(), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(ControllerAsserts(), std::vector<std::string>{"m_ClientCookie != 0"});
    Forget();
    ASSERT_EQ(m_Proxy.Advise(sink.get()), 0);
    ASSERT_EQ(m_Controller->Start(), S_OK);
    EXPECT_EQ(m_Proxy.Unadvise(), 0);
    ASSERT_EQ(m_Controller->Stop(), S_OK);
    EXPECT_EQ(sink->Events(), (std::vector<std::string>{"state 1", "state 2"}));
    EXPECT_EQ(m_Proxy.Advise(nullptr), E_POINTER);
    EXPECT_EQ(ControllerAsserts(), std::vector<std::string>{"client != NULL"});
    EXPECT_EQ(sink->ref_count(), 1u);

    // Destroyed while subscribed: reported, the server pointer still released.
    Forget();
    {
        CKesTestController subscribed;
        ASSERT_EQ(subscribed.Advise(sink.get()), 0);
    }
    EXPECT_EQ(ControllerAsserts(), std::vector<std::string>{"m_ClientCookie == 0"});
    EXPECT_EQ(m_Controller->EventSinkCount(), 1u);
    EXPECT_EQ(m_Controller->ref_count(), 3u);  // fixture, publication, m_Proxy
}

class SessionEvents : public ProxyTest {
  public:
    void SetUp() override {
        ProxyTest::SetUp();
        m_Session = host::make_com<tester::TestSession>(21);
    }
    void TearDown() override {
        CKesTestSession::Remove();
        m_Session->DisconnectAllSinks();
        EXPECT_EQ(m_Session->ref_count(), 1u);
        ProxyTest::TearDown();
    }
    host::ComPtr<tester::TestSession> m_Session;
};

TEST_F(SessionEvents, NoSessionRecordedFailsWithoutTouchingTheCookie) {
    auto sink = host::make_com<RecordingSink>();
    CKesTestSession subscriber;
    EXPECT_EQ(subscriber.AdviseOnGuardEvents(sink.get()), E_NOINTERFACE);
    EXPECT_EQ(subscriber.UnadviseOnGuardEvents(), E_NOINTERFACE);
    EXPECT_EQ(SessionAsserts(),
              (std::vector<std::string>{"m_pTestSession != NULL", "m_pTestSession != NULL",
                                        "m_ClientCookie != 0"}));
    EXPECT_EQ(sink->ref_count(), 1u);
    // Still unsubscribed once a session is there.
    Forget();
    CKesTestSession::Record(m_Session.get());
    EXPECT_EQ(subscriber.UnadviseOnGuardEvents(), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(SessionAsserts(), std::vector<std::string>{"m_ClientCookie != 0"});
}

TEST_F(SessionEvents, TwoObjectsHoldSeparateSubscriptions) {
    CKesTestSession::Record(m_Session.get());
    auto first = host::make_com<RecordingSink>();
    auto second = host::make_com<RecordingSink>();
    CKesTestSession a;
    CKesTestSession b;
    ASSERT_EQ(a.AdviseOnGuardEvents(first.get()), 0);
    ASSERT_EQ(b.AdviseOnGuardEvents(second.get()), 0);
    EXPECT_EQ(m_Session->GuardSinkCount(), 2u);
    m_Session->FireSuspended();
    EXPECT_EQ(a.UnadviseOnGuardEvents(), 0);
    m_Session->FireResumed();
    EXPECT_EQ(a.UnadviseOnGuardEvents(), CONNECT_E_NOCONNECTION);  // a's cookie is gone
    EXPECT_EQ(b.UnadviseOnGuardEvents(), 0);
    m_Session->FireClosing();
    EXPECT_EQ(first->Events(), std::vector<std::string>{"suspended 21"});
    EXPECT_EQ(second->Events(), (std::vector<std::string>{"suspended 21", "resumed 21"}));
    EXPECT_EQ(SessionAsserts(), std::vector<std::string>{"m_ClientCookie != 0"});
    EXPECT_EQ(first->ref_count(), 1u);
    EXPECT_EQ(second->ref_count(), 1u);
}

TEST_F(SessionEvents, NullClientIsReportedAndRefusedByTheSession) {
    CKesTestSession::Record(m_Session.get());
    CKesTestSession subscriber;
    EXPECT_EQ(subscriber.AdviseOnGuardEvents(nullptr), E_POINTER);
    EXPECT_EQ(SessionAsserts(), std::vector<std::string>{"client != NULL"});
    EXPECT_EQ(m_Session->GuardSinkCount(), 0u);
    // Its destructor neither checks nor ends a live subscription.
    auto sink = host::make_com<RecordingSink>();
    {
        CKesTestSession leaving;
        ASSERT_EQ(leaving.AdviseOnGuardEvents(sink.get()), 0);
    }
    EXPECT_EQ(m_Session->GuardSinkCount(), 1u);
    EXPECT_EQ(SessionAsserts(), std::vector<std::string>{"client != NULL"});
}

}  // namespace
