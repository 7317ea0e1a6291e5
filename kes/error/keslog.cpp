#include <kes/error/keslog.h>

#include <host/eventlog.h>
#include <kes/error/keserror.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/kestextconversion.h>

#include <string>

void KesLogEvent(DWORD eventId, unsigned short type, unsigned short stringCount,
                 const unsigned short** strings, DWORD dataSize, const void* data) {
    // Every record opens and closes its own source: no handle outlives a call,
    // and the host keeps the store itself open, so this stays cheap.
    HANDLE source = RegisterEventSourceW(nullptr, OLESTR("Quenlix"));
    if (source == nullptr)
        return;
    const WORD category = CKesErrorContext::Instance().Category();
    ReportEventW(source, type, category, eventId & 0xFFFFu, nullptr, stringCount, dataSize, strings,
                 const_cast<void*>(data));
    DeregisterEventSource(source);
}

void KesLogInfo(DWORD eventId, unsigned short stringCount, const unsigned short** strings,
                DWORD dataSize, const void* data) {
    KesLogEvent(eventId, EVENTLOG_INFORMATION_TYPE, stringCount, strings, dataSize, data);
}

void KesLogWarning(DWORD eventId, unsigned short stringCount, const unsigned short** strings,
                   DWORD dataSize, const void* data) {
    KesLogEvent(eventId, EVENTLOG_WARNING_TYPE, stringCount, strings, dataSize, data);
}

void KesLogError(DWORD eventId, unsigned short stringCount, const unsigned short** strings,
                 DWORD dataSize, const void* data) {
    KesLogEvent(eventId, EVENTLOG_ERROR_TYPE, stringCount, strings, dataSize, data);
}

void KesLogEvent(unsigned short type, std::ostream& stream) {
    std::string text;
    const LONG session = CKesErrorContext::Instance().SessionNumber();
    if (session != 0) {
        text = "Session ";
        text += std::to_string(session);
        text += ": ";
    }
    text += KesConsumeErrorStream(stream);
    host::wstring wide = KesAnsiToWideString(text.data(), text.size());
    KesTraceToConsole(KesErrorsTrace(), text);
    const unsigned short* strings[] = {wide.c_str()};
    KesLogEvent(0, type, 1, strings, 0, nullptr);
}

void KesSetEventCategory(unsigned short category) {
    CKesErrorContext::Instance().SetCategory(category);
}

void KesLogDebug(const unsigned short*, ...) {}

void KesLogDebug(LONG, const unsigned short*, ...) {}
