#include <kes/error/keserrorcontext.h>

#include <kes/error/keserror.h>

#include <kes/application/kestestsession.h>
#include <kes/sync/keslock.h>
#include <pellib/pelconsole.h>
#include <pellib/pelprocess.h>

#include <cstdlib>
#include <memory>
#include <sstream>

namespace {

// The streams KesMakeErrorStream hands out; the type tells a consumer that it
// owns the stream it was given.
class CKesErrorStream : public std::ostringstream {};

PelTrace_ theErrorsTrace{0, "kes", "errors", "kes/error/keserror", 0, -1, {-1}, 0};

// Installs the "errors" pattern when the library loads and removes it at
// unload, so that pellib never keeps a pointer into an unloaded library.
struct CKesErrorsTraceInstaller {
    CKesErrorsTraceInstaller() { pelTraceInstallPattern(theErrorsTrace); }
    ~CKesErrorsTraceInstaller() { pelTraceRemovePattern(theErrorsTrace); }
} theErrorsTraceInstaller;

}  // namespace

std::ostream& KesMakeErrorStream() {
    // Owned by the consumer the stream is handed to.
    return *new CKesErrorStream;
}

std::string KesConsumeErrorStream(std::ostream& theStream) {
    if (auto* own = dynamic_cast<CKesErrorStream*>(&theStream)) {
        std::unique_ptr<CKesErrorStream> destroy(own);
        return own->str();
    }
    if (auto* other = dynamic_cast<std::ostringstream*>(&theStream))
        return other->str();
    return std::string();
}

bool KesSwitchPresent(const char* theName) {
    return std::getenv(theName) != nullptr;
}

PelTrace_& KesErrorsTrace() {
    return theErrorsTrace;
}

void KesTraceToConsole(const PelTrace_& thePattern, const std::string& theText) {
    if (thePattern.enabled.load(std::memory_order_relaxed) == 0)
        return;
    if (PelProcessBC::isInterruptContext())
        return;
    PelConsole console(thePattern);
    console << pelTraceExpression << theText << '\n';
}

CKesErrorContext& CKesErrorContext::Instance() {
    // A function-local static is initialised exactly once even when threads
    // race to it; the context is never destroyed, so reports made from other
    // static destructors still find it.
    static CKesErrorContext* theContext = new CKesErrorContext;
    return *theContext;
}

CKesErrorContext::CKesErrorContext() : m_SessionNumber(0), m_Category(0) {
    void* session = nullptr;
    CKesTestSession::GetTestSession(&session);
    if (session != nullptr)
        static_cast<IDovTestSession*>(session)->GetSessionNumber(&m_SessionNumber);
}

void CKesErrorContext::Record(LONG theCode, host::wstring theText) {
    // The node is built before the lock is taken, so the lock covers only the
    // list splice and the drop of the oldest entry.
    std::list<std::pair<LONG, host::wstring>> node;
    node.emplace_back(theCode, std::move(theText));
    std::list<std::pair<LONG, host::wstring>> dropped;
    {
        CKesLock hold(&m_Lock);
        m_Errors.splice(m_Errors.begin(), node);
        if (m_Errors.size() > MAX_ENTRIES)
            dropped.splice(dropped.begin(), m_Errors, std::prev(m_Errors.end()));
    }
}

host::wstring CKesErrorContext::Take(LONG theCode, bool theAll) {
    host::wstring text;
    std::list<std::pair<LONG, host::wstring>> taken;
    {
        CKesLock hold(&m_Lock);
        for (auto entry = m_Errors.begin(); entry != m_Errors.end();) {
            auto next = std::next(entry);
            if (entry->first == theCode)
                taken.splice(taken.end(), m_Errors, entry);
            entry = next;
        }
    }
    bool first = true;
    for (const auto& entry : taken) {
        if (!first) {
            if (!theAll)
                break;
            text.push_back('\r');
            text.push_back('\n');
        }
        text += entry.second;
        first = false;
    }
    return text;
}

std::size_t CKesErrorContext::Size() const {
    CKesLock hold(&m_Lock);
    return m_Errors.size();
}
