#include <kes/error/keslog.h>

#include <host/eventlog.h>
#include <kes/error/keserror.h>
#include <kes/error/keserrorcontext.h>
#include <kes/error/kestextconversion.h>

#include <string>

namespace {

// The event log refuses a whole record whose string is longer than
// EVENTLOG_MAX_STRING_LENGTH units. A report that long keeps its head in the
// log instead of vanishing; the cut never splits a surrogate pair.
void FitEventString(host::wstring& theText) {
    if (theText.size() <= EVENTLOG_MAX_STRING_LENGTH)
        return;
    std::size_t keep = EVENTLOG_MAX_STRING_LENGTH;
    const WCHAR last = theText[keep - 1];
    if (last >= 0xD800 && last <= 0xDBFF)
        --keep;
    theText.resize(keep);
}

}  // namespace

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
    FitEventString(wide);
    const unsigned short* strings[] = {wide.c_str()};
    KesLogEvent(0, type, 1, strings, 0, nullptr);
}

void KesSetEventCategory(unsigned short category) {
    CKesErrorContext::Instance().SetCategory(category);
}

void KesLogDebug(const unsigned short*, ...) {}

void KesLogDebug(LONG, const unsigned short*, ...) {}
