#include <kes/error/keserror.h>

#include <host/com.h>
#include <host/oleauto.h>
#include <host/process.h>
#include <kes/application/kestestsession.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/keslog.h>
#include <kes/error/kestextconversion.h>
#include <tester/interfaces.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const theSourceFile = "kes/error/keserror";

// Appends the report's fixed first line: "Error 0x<hex> in <file>, line <n>:".
void AppendErrorHeader(std::string& theReport, LONG theCode, const char* theFile, int theLine) {
    char number[32];
    std::snprintf(number, sizeof number, "%x", static_cast<unsigned>(theCode));
    theReport += "Error 0x";
    theReport += number;
    theReport += " in ";
    theReport += theFile != nullptr ? theFile : "";
    std::snprintf(number, sizeof number, "%d", theLine);
    theReport += ", line ";
    theReport += number;
    theReport += ":\r\n";
}

// The standard message for `theCode` from the error-message server, or false
// after the matching assertion when there is none.
bool LookupStandardMessage(LONG theCode, std::string& theMessage) {
    IDovErrorLookup* pLookup = nullptr;
    HRESULT hRes = CoCreateInstance(CLSID_DovErrorLookup, nullptr, CLSCTX_ALL, IID_IDovErrorLookup,
                                    reinterpret_cast<void**>(&pLookup));
    if (!SUCCEEDED(hRes) || pLookup == nullptr) {
        KesAssertionFailed("SUCCEEDED(hRes)", theSourceFile, __LINE__);
        return false;
    }
    BSTR pErrorMessage = nullptr;
    HRESULT hrTemp = pLookup->LookupMessage(theCode, &pErrorMessage);
    pLookup->Release();
    if (!(SUCCEEDED(hrTemp) && (pErrorMessage != 0))) {
        SysFreeString(pErrorMessage);
        KesAssertionFailed("SUCCEEDED(hrTemp) && (pErrorMessage != 0)", theSourceFile, __LINE__);
        return false;
    }
    theMessage = KesWideToAnsiString(pErrorMessage, SysStringLen(pErrorMessage));
    SysFreeString(pErrorMessage);
    return true;
}

// Hands `theText` to the event log as one error record (which echoes it on
// the console with the session prefix).
void LogErrorText(const std::string& theText) {
    std::ostream& stream = KesMakeErrorStream();
    stream << theText;
    KesLogEvent(EVENTLOG_ERROR_TYPE, stream);
}

IDovTestSession* RecordedSession() {
    void* session = nullptr;
    CKesTestSession::GetTestSession(&session);
    return static_cast<IDovTestSession*>(session);
}

// Tells the session's manager of a fatal error; any failure on the way ends
// the attempt silently.
void TellSessionManager(IDovTestSession* theSession, LONG theNumber, const std::string& theText) {
    BSTR name = SysAllocString(OLESTR("DovSessionManager"));
    IUnknown* pObject = nullptr;
    HRESULT hr = theSession->GetSessionObject(name, &pObject);
    SysFreeString(name);
    if (!SUCCEEDED(hr) || pObject == nullptr)
        return;
    IDovSessionManager* pManager = nullptr;
    hr = pObject->QueryInterface(IID_IDovSessionManager, reinterpret_cast<void**>(&pManager));
    pObject->Release();
    if (!SUCCEEDED(hr) || pManager == nullptr)
        return;
    host::wstring wide = KesAnsiToWideString(theText.data(), theText.size());
    BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (text != nullptr)
        pManager->ReportFatalError(theNumber, text);
    SysFreeString(text);
    pManager->Release();
}

// Both overloads end here. The text is taken with its length so that a
// stream's text reaches the table whole, also when it holds a zero byte.
LONG RaiseWithText(LONG code, const char* callerText, std::size_t callerLength, const char* file,
                   int line) {
    CKesErrorContext::Instance().Record(code, KesAnsiToWideString(callerText, callerLength));

    std::string message;
    if (!LookupStandardMessage(code, message))
        return code;

    const bool logged = KesSwitchPresent("DOV_LOG_ERRORS");
    const PelTrace_& trace = KesErrorsTrace();
    // Composing costs more than the rest; skip it when nobody would see it.
    if (!logged && trace.enabled.load(std::memory_order_relaxed) == 0)
        return code;
    std::string report;
    report.reserve(64 + std::strlen(file != nullptr ? file : "") + message.size() + callerLength);
    AppendErrorHeader(report, code, file, line);
    report += message;
    report.append(callerText, callerLength);
    if (logged)
        LogErrorText(report);
    else
        KesTraceToConsole(trace, report);
    return code;
}

}  // namespace

LONG KesRaiseError(LONG code, const char* text, const char* file, int line) {
    if (code == 0)
        return 0;
    const char* callerText = text != nullptr ? text : "";
    return RaiseWithText(code, callerText, std::strlen(callerText), file, line);
}

LONG KesRaiseError(LONG code, std::ostream& stream, const char* file, int line) {
    std::string text = KesConsumeErrorStream(stream);
    if (code == 0)
        return 0;
    return RaiseWithText(code, text.data(), text.size(), file, line);
}

void KesAssertionFailed(const char* expression, const char* file, int line) {
    std::string report = "Assertion failed in ";
    report += file != nullptr ? file : "";
    report += ", line ";
    report += std::to_string(line);
    report += ":\r\n";
    report += expression != nullptr ? expression : "";
    if (KesSwitchPresent("DOV_HALT_ASSERTIONS")) {
        std::ostream& stream = KesMakeErrorStream();
        stream << report;
        KesQuit(stream);
        return;
    }
    LogErrorText(report);
    KesTraceToConsole(KesErrorsTrace(), report);
}

void KesQuit(std::ostream& stream) {
    std::string fatal = "Fatal error";
    IDovTestSession* session = RecordedSession();
    LONG number = 0;
    if (session != nullptr) {
        // Fetched anew: the context's number may predate the session.
        session->GetSessionNumber(&number);
        fatal += " in session ";
        fatal += std::to_string(number);
    }
    fatal += ":  ";
    fatal += KesConsumeErrorStream(stream);
    LogErrorText(fatal);
    if (session != nullptr)
        TellSessionManager(session, number, fatal);
    if (!KesSwitchPresent("DOV_NO_EXIT"))
        TerminateProcess(GetCurrentProcess(), 0xFFFFFFFFu);
}

void KesGetErrorMessage(LONG code, host::wstring& text) {
    text = CKesErrorContext::Instance().Take(code, true);
}

void KesGetLastErrorMessage(LONG code, host::wstring& text) {
    text = CKesErrorContext::Instance().Take(code, false);
}
