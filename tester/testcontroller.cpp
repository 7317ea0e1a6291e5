#include <tester/testcontroller.h>

#include <tester/internal/regconfig.h>
#include <tester/portselector.h>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace tester {
namespace {

bool Running(EDovTestState state) {
    return state == DovTestStarting || state == DovTestRunning || state == DovTestStopping;
}

}  // namespace

LONG TestController::SystemSeconds() {
    // 2000-01-01 00:00:00 UTC in seconds since 1970.
    constexpr long long kEpoch2000 = 946684800;
    long long now = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return static_cast<LONG>(now - kEpoch2000);
}

TestController::TestController() : TestController(TestControllerConfig()) {}

TestController::TestController(TestControllerConfig config)
    : m_Config(config), m_Clock(&TestController::SystemSeconds), m_Events(this) {
    for (auto& calls : m_Calls)
        calls.store(0);
    for (auto& result : m_Results)
        result.store(S_OK);
}

TestController::~TestController() = default;

HRESULT TestController::Enter(ControllerMethod method) {
    std::size_t index = static_cast<std::size_t>(method);
    m_Calls[index].fetch_add(1, std::memory_order_relaxed);
    HRESULT forced = m_Results[index].load(std::memory_order_relaxed);
    return FAILED(forced) ? forced : S_OK;
}

HRESULT TestController::Leave(ControllerMethod method, HRESULT hr) const {
    HRESULT forced = m_Results[static_cast<std::size_t>(method)].load(std::memory_order_relaxed);
    if (hr == S_OK && forced != S_OK && SUCCEEDED(forced))
        return forced;
    return hr;
}

void TestController::SetResult(ControllerMethod method, HRESULT result) {
    m_Results[static_cast<std::size_t>(method)].store(result, std::memory_order_relaxed);
}

LONG TestController::Calls(ControllerMethod method) const {
    return m_Calls[static_cast<std::size_t>(method)].load(std::memory_order_relaxed);
}

LONG TestController::TotalCalls() const {
    LONG total = 0;
    for (const auto& calls : m_Calls)
        total += calls.load(std::memory_order_relaxed);
    return total;
}

template <class Value>
HRESULT TestController::Read(ControllerMethod method, Value* out,
                             Value TestControllerConfig::*field) {
    if (HRESULT hr = Enter(method); FAILED(hr))
        return hr;
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    *out = m_Config.*field;
    return Leave(method, S_OK);
}

LONG TestController::ElapsedLocked() const {
    if (m_Config.state != DovTestRunning)
        return m_Config.elapsed;
    LONG elapsed = std::max<LONG>(0, m_Clock() - m_Config.startTime);
    if (m_Config.mode == DovTestModeTimed)
        elapsed = std::min(elapsed, m_Config.duration);
    return elapsed;
}

// ---- IIntTestController -------------------------------------------------------------

HRESULT TestController::GetTestCount(LONG* count) {
    return Read(ControllerMethod::GetTestCount, count, &TestControllerConfig::testCount);
}

HRESULT TestController::GetTestState(EDovTestState* state) {
    return Read(ControllerMethod::GetTestState, state, &TestControllerConfig::state);
}

HRESULT TestController::GetTestMode(EDovTestMode* mode) {
    return Read(ControllerMethod::GetTestMode, mode, &TestControllerConfig::mode);
}

HRESULT TestController::GetTestDuration(LONG* seconds) {
    return Read(ControllerMethod::GetTestDuration, seconds, &TestControllerConfig::duration);
}

HRESULT TestController::GetSamplingInterval(LONG* milliseconds) {
    return Read(ControllerMethod::GetSamplingInterval, milliseconds,
                &TestControllerConfig::samplingInterval);
}

HRESULT TestController::GetTrickleTime(LONG* seconds) {
    return Read(ControllerMethod::GetTrickleTime, seconds, &TestControllerConfig::trickleTime);
}

HRESULT TestController::GetStartTime(LONG* seconds) {
    return Read(ControllerMethod::GetStartTime, seconds, &TestControllerConfig::startTime);
}

HRESULT TestController::GetElapsedTime(LONG* seconds) {
    if (HRESULT hr = Enter(ControllerMethod::GetElapsedTime); FAILED(hr))
        return hr;
    if (seconds == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_Lock);
    *seconds = ElapsedLocked();
    return Leave(ControllerMethod::GetElapsedTime, S_OK);
}

HRESULT TestController::ResetTimestamps() {
    if (HRESULT hr = Enter(ControllerMethod::ResetTimestamps); FAILED(hr))
        return hr;
    LONG start = 0;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Config.state != DovTestRunning)
            return E_UNEXPECTED;
        start = m_Clock();
        m_Config.startTime = start;
        m_Config.elapsed = 0;
    }
    m_Events.Fire([start](IIntTestControllerEvents* sink) { sink->OnTimestampsReset(start); });
    return Leave(ControllerMethod::ResetTimestamps, S_OK);
}

HRESULT TestController::CanResetTimestamps() {
    if (HRESULT hr = Enter(ControllerMethod::CanResetTimestamps); FAILED(hr))
        return hr;
    std::lock_guard<std::mutex> hold(m_Lock);
    return Leave(ControllerMethod::CanResetTimestamps,
                 m_Config.state == DovTestRunning ? S_OK : S_FALSE);
}

// ---- IConnectionPointContainer -----------------------------------------------------

HRESULT TestController::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return host::NoEnumConnectionPoints(ppEnum);
}

HRESULT TestController::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return host::FindConnectionPointIn(riid, ppCP, {&m_Events});
}

// ---- Driving the test ----------------------------------------------------------------

void TestController::FireState(EDovTestState state) {
    m_Events.Fire([state](IIntTestControllerEvents* sink) { sink->OnTestStateChanged(state); });
}

HRESULT TestController::Start() {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (Running(m_Config.state))
            return E_UNEXPECTED;
        m_Config.state = DovTestStarting;
        m_Config.startTime = m_Clock();
        m_Config.elapsed = 0;
        ++m_Config.testCount;
    }
    FireState(DovTestStarting);
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        // Another thread may have aborted the test meanwhile.
        if (m_Config.state != DovTestStarting)
            return S_FALSE;
        m_Config.state = DovTestRunning;
    }
    FireState(DovTestRunning);
    return S_OK;
}

HRESULT TestController::Stop() {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Config.state != DovTestRunning)
            return E_UNEXPECTED;
        m_Config.elapsed = ElapsedLocked();
        m_Config.state = DovTestStopping;
    }
    FireState(DovTestStopping);
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Config.state != DovTestStopping)
            return S_FALSE;
        m_Config.state = DovTestStopped;
    }
    FireState(DovTestStopped);
    return S_OK;
}

HRESULT TestController::Abort() {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Config.state == DovTestAborted)
            return E_UNEXPECTED;
        m_Config.elapsed = ElapsedLocked();
        m_Config.state = DovTestAborted;
    }
    FireState(DovTestAborted);
    return S_OK;
}

void TestController::SetMode(EDovTestMode mode) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Config.mode = mode;
    }
    m_Events.Fire([mode](IIntTestControllerEvents* sink) { sink->OnTestModeChanged(mode); });
}

void TestController::SetDuration(LONG seconds) {
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Config.duration = seconds;
}

void TestController::SetSamplingInterval(LONG milliseconds) {
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Config.samplingInterval = milliseconds;
}

void TestController::SetTrickleTime(LONG seconds) {
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Config.trickleTime = seconds;
}

void TestController::Configure(const TestControllerConfig& config) {
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Config = config;
}

TestControllerConfig TestController::Configuration() const {
    std::lock_guard<std::mutex> hold(m_Lock);
    TestControllerConfig config = m_Config;
    config.elapsed = ElapsedLocked();
    return config;
}

void TestController::SetClock(std::function<LONG()> clock) {
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Clock = clock ? std::move(clock) : std::function<LONG()>(&TestController::SystemSeconds);
}

// ---- Registry ------------------------------------------------------------------------

namespace {

struct Field {
    const WCHAR* name;
    LONG TestControllerConfig::*value;
};

// The figures kept as REG_DWORD values beside State and Mode.
std::vector<Field> Fields() {
    return {
        {OLESTR("Duration"), &TestControllerConfig::duration},
        {OLESTR("SamplingInterval"), &TestControllerConfig::samplingInterval},
        {OLESTR("TrickleTime"), &TestControllerConfig::trickleTime},
        {OLESTR("StartTime"), &TestControllerConfig::startTime},
        {OLESTR("Elapsed"), &TestControllerConfig::elapsed},
        {OLESTR("TestCount"), &TestControllerConfig::testCount},
    };
}

}  // namespace

HRESULT TestController::LoadFromRegistry(HKEY root, const host::wstring& path) {
    reg::Key key;
    LSTATUS status = key.Open(root, path);
    if (status != ERROR_SUCCESS)
        return reg::ToResult(status);
    TestControllerConfig config;
    LONG state = config.state;
    LONG mode = config.mode;
    const std::vector<Field> fields = Fields();
    status = reg::ReadLong(key.get(), OLESTR("State"), state);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_SUCCESS)
        status = reg::ReadLong(key.get(), OLESTR("Mode"), mode);
    for (const Field& field : fields) {
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            break;
        status = reg::ReadLong(key.get(), field.name, config.*field.value);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return reg::ToResult(status);
    if (state < DovTestIdle || state > DovTestAborted || mode < DovTestModeContinuous ||
        mode > DovTestModeSingleShot)
        return E_INVALIDARG;
    config.state = static_cast<EDovTestState>(state);
    config.mode = static_cast<EDovTestMode>(mode);
    Configure(config);
    return S_OK;
}

HRESULT TestController::SaveToRegistry(HKEY root, const host::wstring& path) const {
    TestControllerConfig config = Configuration();
    reg::Key key;
    LSTATUS status = key.Create(root, path);
    const std::vector<Field> fields = Fields();
    if (status == ERROR_SUCCESS)
        status = reg::WriteLong(key.get(), OLESTR("State"), config.state);
    if (status == ERROR_SUCCESS)
        status = reg::WriteLong(key.get(), OLESTR("Mode"), config.mode);
    for (const Field& field : fields) {
        if (status == ERROR_SUCCESS)
            status = reg::WriteLong(key.get(), field.name, config.*field.value);
    }
    return reg::ToResult(status);
}

}  // namespace tester
