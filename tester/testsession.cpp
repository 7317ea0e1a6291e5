#include <tester/testsession.h>

#include <host/eventlog.h>
#include <host/oleauto.h>

namespace tester {
namespace {

bool equals(BSTR text, const WCHAR* expected) {
    if (text == nullptr)
        return false;
    UINT length = SysStringLen(text);
    UINT i = 0;
    for (; i < length && expected[i] != 0; ++i) {
        if (text[i] != expected[i])
            return false;
    }
    return i == length && expected[i] == 0;
}

// Logged as an error record: "Session N: <text>".
void log_report(LONG sessionNumber, const host::wstring& text) {
    HANDLE source = RegisterEventSourceW(nullptr, OLESTR("TesterSessionManager"));
    if (source == nullptr)
        return;
    std::string prefix = "Session " + std::to_string(sessionNumber) + ": ";
    host::wstring line(prefix.begin(), prefix.end());
    line += text;
    LPCWSTR strings[] = {line.c_str()};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

}  // namespace

HRESULT SessionManager::ReportFatalError(LONG sessionNumber, BSTR text) {
    host::wstring copy;
    if (text != nullptr)
        copy.assign(text, SysStringLen(text));
    log_report(sessionNumber, copy);
    std::lock_guard<std::mutex> hold(m_lock);
    m_reports.push_back(FatalReport{sessionNumber, std::move(copy)});
    return S_OK;
}

std::vector<FatalReport> SessionManager::Reports() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_reports;
}

TestSession::TestSession(LONG sessionNumber)
    : m_number(sessionNumber), m_manager(host::make_com<SessionManager>()), m_GuardEvents(this) {}

HRESULT TestSession::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return host::NoEnumConnectionPoints(ppEnum);
}

HRESULT TestSession::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return host::FindConnectionPointIn(riid, ppCP, {&m_GuardEvents});
}

std::size_t TestSession::FireClosing() {
    LONG number = 0;
    GetSessionNumber(&number);
    return m_GuardEvents.Fire(
        [number](IIntTestSessionGuardEvents* sink) { sink->OnSessionClosing(number); });
}

std::size_t TestSession::FireSuspended() {
    LONG number = 0;
    GetSessionNumber(&number);
    return m_GuardEvents.Fire(
        [number](IIntTestSessionGuardEvents* sink) { sink->OnSessionSuspended(number); });
}

std::size_t TestSession::FireResumed() {
    LONG number = 0;
    GetSessionNumber(&number);
    return m_GuardEvents.Fire(
        [number](IIntTestSessionGuardEvents* sink) { sink->OnSessionResumed(number); });
}

HRESULT TestSession::GetSessionNumber(LONG* number) {
    if (number == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(m_lock);
    *number = m_number;
    return S_OK;
}

HRESULT TestSession::GetSessionObject(BSTR name, IUnknown** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!equals(name, OLESTR("DovSessionManager")) || !m_manager)
        return E_INVALIDARG;
    *object = m_manager->identity();
    (*object)->AddRef();
    return S_OK;
}

void TestSession::SetSessionNumber(LONG number) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_number = number;
}

}  // namespace tester
