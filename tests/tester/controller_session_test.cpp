// The simulated test controller's life cycle, clock and figures, and the test
// session's guard events.
#include "sinks.h"

#include <host/registry.h>
#include <tester/testcontroller.h>
#include <tester/testsession.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

using tester::ControllerMethod;
using tester::TestController;
using testsinks::RecordingSink;

host::wstring W(const char* text) {
    std::string narrow(text);
    return host::wstring(narrow.begin(), narrow.end());
}

struct Subscribed {
    host::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

Subscribed Subscribe(IConnectionPointContainer* container, REFIID riid, RecordingSink* sink) {
    Subscribed s;
    EXPECT_EQ(container->FindConnectionPoint(riid, s.point.put()), S_OK);
    EXPECT_EQ(s.point->Advise(sink->identity(), &s.cookie), S_OK);
    return s;
}

TEST(SimulatedTestController, LifeCycleFiresEachStateInOrder) {
    auto controller = host::make_com<TestController>();
    std::atomic<LONG> now{1000};
    controller->SetClock([&] { return now.load(); });
    auto sink = host::make_com<RecordingSink>();
    Subscribed s = Subscribe(controller.get(), IID_IIntTestControllerEvents, sink.get());

    EXPECT_EQ(controller->CanResetTimestamps(), S_FALSE);
    EXPECT_EQ(controller->ResetTimestamps(), E_UNEXPECTED);
    EXPECT_EQ(controller->Stop(), E_UNEXPECTED);
    EXPECT_EQ(controller->Start(), S_OK);
    EXPECT_EQ(controller->Start(), E_UNEXPECTED);
    now = 1030;
    LONG value = -1;
    EXPECT_EQ(controller->GetElapsedTime(&value), S_OK);
    EXPECT_EQ(value, 30);
    EXPECT_EQ(controller->GetStartTime(&value), S_OK);
    EXPECT_EQ(value, 1000);
    EXPECT_EQ(controller->CanResetTimestamps(), S_OK);
    EXPECT_EQ(controller->ResetTimestamps(), S_OK);
    now = 1035;
    EXPECT_EQ(controller->GetElapsedTime(&value), S_OK);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(controller->Stop(), S_OK);
    now = 2000;  // the stopped test keeps its figure
    EXPECT_EQ(controller->GetElapsedTime(&value), S_OK);
    EXPECT_EQ(value, 5);
    controller->SetMode(DovTestModeTimed);
    EXPECT_EQ(controller->Abort(), S_OK);
    EXPECT_EQ(controller->Abort(), E_UNEXPECTED);
    EXPECT_EQ(controller->GetTestCount(&value), S_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(sink->Events(),
              (std::vector<std::string>{"state 1", "state 2", "reset 1030", "state 3", "state 4",
                                        "testmode 1", "state 5"}));
    EXPECT_EQ(s.point->Unadvise(s.cookie), S_OK);
}

TEST(SimulatedTestController, TimedTestNeverReportsMoreThanItsDuration) {
    tester::TestControllerConfig config;
    config.mode = DovTestModeTimed;
    config.duration = 10;
    auto controller = host::make_com<TestController>(config);
    LONG now = 500;
    controller->SetClock([&] { return now; });
    ASSERT_EQ(controller->Start(), S_OK);
    now = 900;
    LONG elapsed = 0;
    EXPECT_EQ(controller->GetElapsedTime(&elapsed), S_OK);
    EXPECT_EQ(elapsed, 10);
    now = 400;  // a clock that went back gives 0, not a negative time
    EXPECT_EQ(controller->GetElapsedTime(&elapsed), S_OK);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(controller->GetElapsedTime(nullptr), E_POINTER);
}

TEST(SimulatedTestController, ForcedAnswersWriteNothing) {
    auto controller = host::make_com<TestController>();
    controller->SetResult(ControllerMethod::GetTestDuration, E_FAIL);
    LONG value = -7;
    EXPECT_EQ(controller->GetTestDuration(&value), E_FAIL);
    EXPECT_EQ(value, -7);
    controller->SetResult(ControllerMethod::CanResetTimestamps, static_cast<HRESULT>(0x00040001));
    EXPECT_EQ(controller->CanResetTimestamps(), S_FALSE);  // not running: its own success first
    ASSERT_EQ(controller->Start(), S_OK);
    EXPECT_EQ(controller->CanResetTimestamps(), static_cast<HRESULT>(0x00040001));
    EXPECT_EQ(controller->Calls(ControllerMethod::CanResetTimestamps), 2);
    EXPECT_EQ(controller->TotalCalls(), 3);
}

TEST(SimulatedTestController, RegistryFormRoundTrips) {
    tester::TestControllerConfig config;
    config.state = DovTestStopped;
    config.mode = DovTestModeSingleShot;
    config.duration = 77;
    config.samplingInterval = 250;
    config.trickleTime = 3;
    config.startTime = 123456;
    config.elapsed = 42;
    config.testCount = 9;
    auto original = host::make_com<TestController>(config);
    const host::wstring path = W("SOFTWARE\\KesTests\\Controller");
    ASSERT_EQ(original->SaveToRegistry(HKEY_LOCAL_MACHINE, path), S_OK);
    auto loaded = host::make_com<TestController>();
    ASSERT_EQ(loaded->LoadFromRegistry(HKEY_LOCAL_MACHINE, path), S_OK);
    tester::TestControllerConfig back = loaded->Configuration();
    EXPECT_EQ(back.state, DovTestStopped);
    EXPECT_EQ(back.mode, DovTestModeSingleShot);
    EXPECT_EQ(back.duration, 77);
    EXPECT_EQ(back.samplingInterval, 250);
    EXPECT_EQ(back.trickleTime, 3);
    EXPECT_EQ(back.startTime, 123456);
    EXPECT_EQ(back.elapsed, 42);
    EXPECT_EQ(back.testCount, 9);

    // An out-of-range state is refused and the controller keeps its figures.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_WRITE, &key), 0);
    DWORD bad = 17;
    RegSetValueExW(key, OLESTR("State"), 0, REG_DWORD, reinterpret_cast<BYTE*>(&bad), 4);
    RegCloseKey(key);
    EXPECT_EQ(loaded->LoadFromRegistry(HKEY_LOCAL_MACHINE, path), E_INVALIDARG);
    EXPECT_EQ(loaded->Configuration().duration, 77);
    EXPECT_EQ(loaded->LoadFromRegistry(HKEY_LOCAL_MACHINE, W("SOFTWARE\\KesTests\\None")),
              static_cast<HRESULT>(0x80070002u));
}

TEST(SimulatedTestSession, GuardEventsCarryTheSessionNumber) {
    auto session = host::make_com<tester::TestSession>(12);
    auto a = host::make_com<RecordingSink>();
    auto b = host::make_com<RecordingSink>();
    Subscribed sa = Subscribe(session.get(), IID_IIntTestSessionGuardEvents, a.get());
    Subscribed sb = Subscribe(session.get(), IID_IIntTestSessionGuardEvents, b.get());
    EXPECT_NE(sa.cookie, sb.cookie);
    EXPECT_EQ(session->GuardSinkCount(), 2u);
    EXPECT_EQ(session->FireSuspended(), 2u);
    EXPECT_EQ(sb.point->Unadvise(sb.cookie), S_OK);
    session->SetSessionNumber(13);
    EXPECT_EQ(session->FireResumed(), 1u);
    EXPECT_EQ(session->FireClosing(), 1u);
    EXPECT_EQ(a->Events(), (std::vector<std::string>{"suspended 12", "resumed 13", "closing 13"}));
    EXPECT_EQ(b->Events(), (std::vector<std::string>{"suspended 12"}));
    // The session still answers its own interface through the container's QI.
    host::ComPtr<IDovTestSession> same = sa.point.as<IDovTestSession>();
    EXPECT_FALSE(same);  // a connection point is not the session
    host::ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(sa.point->GetConnectionPointContainer(container.put()), S_OK);
    EXPECT_TRUE(container.as<IDovTestSession>());
    session->DisconnectAllSinks();
    EXPECT_EQ(a->ref_count(), 1u);
}

}  // namespace
