// The simulated test controller: the tester server's IIntTestController,
// with a test that code starts and stops, a mode, timing figures and a
// clock.
//
// `tester::TestController` is a free-threaded COM object (create it with
// `host::make_com<tester::TestController>()`); every member may be called
// from any thread. It fires IIntTestControllerEvents through its
// IConnectionPointContainer, on the thread that made the change, after its
// own lock is given back.
//
// The test's life: Idle -> (Start) Starting -> Running -> (Stop) Stopping ->
// Stopped -> (Start) ...; Abort ends a test in any state with Aborted, from
// which Start begins again. Each state change fires OnTestStateChanged.
// While the test runs, the elapsed time is the clock's time less the start
// time (in the timed mode never more than the duration); otherwise it is the
// figure the last test ended with. Times are in seconds, the sampling
// interval in milliseconds, the start time in seconds since 2000-01-01 UTC.
//
// ResetTimestamps restarts a running test's clock (start time now, elapsed
// 0) and fires OnTimestampsReset; with no test running there is nothing to
// reset and it fails with E_UNEXPECTED. CanResetTimestamps answers S_OK when a
// reset would succeed and S_FALSE when not. A null out-pointer gives
// E_POINTER. As for the port selector, tests can force any method's answer
// (`SetResult`) and count calls (`Calls`).
#pragma once

#include <host/comptr.h>
#include <host/connpt.h>
#include <host/registry.h>
#include <host/types.h>
#include <tester/export.h>
#include <tester/interfaces.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>

namespace tester {

enum class ControllerMethod : int {
    GetTestCount,
    GetTestState,
    GetTestMode,
    GetTestDuration,
    GetSamplingInterval,
    GetTrickleTime,
    GetStartTime,
    GetElapsedTime,
    ResetTimestamps,
    CanResetTimestamps,
    Count_
};
constexpr std::size_t CONTROLLER_METHOD_COUNT = static_cast<std::size_t>(ControllerMethod::Count_);

struct TestControllerConfig {
    EDovTestState state = DovTestIdle;
    EDovTestMode mode = DovTestModeContinuous;
    LONG duration = 60;            // seconds
    LONG samplingInterval = 1000;  // milliseconds
    LONG trickleTime = 0;          // seconds
    LONG startTime = 0;            // seconds since 2000-01-01 UTC
    LONG elapsed = 0;              // seconds; the figure while no test runs
    LONG testCount = 0;
};

class TESTER_API TestController
    : public host::ComObject<IIntTestController, IConnectionPointContainer> {
  public:
    TestController();
    explicit TestController(TestControllerConfig config);
    ~TestController() override;

    // ---- IIntTestController ----
    HRESULT GetTestCount(LONG* count) override;
    HRESULT GetTestState(EDovTestState* state) override;
    HRESULT GetTestMode(EDovTestMode* mode) override;
    HRESULT GetTestDuration(LONG* seconds) override;
    HRESULT GetSamplingInterval(LONG* milliseconds) override;
    HRESULT GetTrickleTime(LONG* seconds) override;
    HRESULT GetStartTime(LONG* seconds) override;
    HRESULT GetElapsedTime(LONG* seconds) override;
    HRESULT ResetTimestamps() override;
    HRESULT CanResetTimestamps() override;

    // ---- IConnectionPointContainer ----
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // ---- Driving the test ----
    // Starts a test: Starting, then Running (two events), start time now,
    // elapsed 0, one more test counted. E_UNEXPECTED while a test runs.
    HRESULT Start();
    // Ends the running test: Stopping, then Stopped; the elapsed time stays.
    // E_UNEXPECTED when no test runs.
    HRESULT Stop();
    // Ends the test at once: Aborted. E_UNEXPECTED when already Aborted.
    HRESULT Abort();
    // Sets the mode and fires OnTestModeChanged.
    void SetMode(EDovTestMode mode);
    void SetDuration(LONG seconds);
    void SetSamplingInterval(LONG milliseconds);
    void SetTrickleTime(LONG seconds);
    // Replaces every figure and the state; fires nothing.
    void Configure(const TestControllerConfig& config);
    TestControllerConfig Configuration() const;
    // The clock, in seconds since 2000-01-01 UTC (default: the system clock).
    // It is called with the controller's lock held and must not call back.
    void SetClock(std::function<LONG()> clock);
    static LONG SystemSeconds();

    // ---- Registry ----
    // Values State, Mode, Duration, SamplingInterval, TrickleTime, StartTime,
    // Elapsed and TestCount (REG_DWORD) below `root`\`path`; missing values
    // keep their defaults. A missing key gives TESTER_E_NOT_FOUND.
    HRESULT LoadFromRegistry(HKEY root, const host::wstring& path);
    HRESULT SaveToRegistry(HKEY root, const host::wstring& path) const;

    // ---- For tests ----
    // As PortSelector::SetResult: a failure is returned at once; another
    // success code replaces S_OK (CanResetTimestamps answers it as it is).
    void SetResult(ControllerMethod method, HRESULT result);
    LONG Calls(ControllerMethod method) const;
    LONG TotalCalls() const;
    std::size_t EventSinkCount() const { return m_Events.ConnectionCount(); }
    void DisconnectAllSinks() { m_Events.DisconnectAll(); }

  private:
    HRESULT Enter(ControllerMethod method);
    HRESULT Leave(ControllerMethod method, HRESULT hr) const;
    template <class Value>
    HRESULT Read(ControllerMethod method, Value* out, Value TestControllerConfig::*field);
    LONG ElapsedLocked() const;  // m_Lock held
    void FireState(EDovTestState state);

    mutable std::mutex m_Lock;
    TestControllerConfig m_Config;  // guarded by m_Lock
    std::function<LONG()> m_Clock;  // guarded by m_Lock
    std::array<std::atomic<LONG>, CONTROLLER_METHOD_COUNT> m_Calls{};
    std::array<std::atomic<HRESULT>, CONTROLLER_METHOD_COUNT> m_Results{};
    host::ConnectionPoint<IIntTestControllerEvents> m_Events;
};

}  // namespace tester
