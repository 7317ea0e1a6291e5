// The process's error context and the plumbing that error reporting and event
// logging share. For the library's own use.
//
// `CKesErrorContext::Instance()` creates the one context of the process on
// first use (exactly once, also when threads race to it) and never destroys
// it. At creation it reads the recorded test session's number; that number is
// fixed for the life of the process, so a session recorded after the first
// error keeps the prefix away from every later report.
//
// The recent-error table holds at most 10 entries, newest first. Its lock is
// a leaf: nothing else is locked, and no outside code runs, while it is held.
// The session number and the event category are read without the lock.
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/sync/kescriticalsection.h>
#include <pellib/peltrace.h>

#include <atomic>
#include <list>
#include <ostream>
#include <string>
#include <utility>

class KES_API CKesErrorContext {
  public:
    static constexpr std::size_t MAX_ENTRIES = 10;

    // The process's context, created on first use.
    static CKesErrorContext& Instance();

    // Puts (code, text) at the front of the table, dropping the oldest entry
    // beyond MAX_ENTRIES.
    void Record(LONG theCode, host::wstring theText);

    // Removes every entry for `theCode` and returns their texts: all of them
    // newest first joined by "\r\n" (`theAll`), or the newest one alone.
    host::wstring Take(LONG theCode, bool theAll);

    // Entries in the table, for tests and diagnostics.
    std::size_t Size() const;

    LONG SessionNumber() const { return m_SessionNumber; }
    unsigned short Category() const { return m_Category.load(std::memory_order_relaxed); }
    void SetCategory(unsigned short theCategory) {
        m_Category.store(theCategory, std::memory_order_relaxed);
    }

    CKesErrorContext(const CKesErrorContext&) = delete;
    CKesErrorContext& operator=(const CKesErrorContext&) = delete;

  private:
    CKesErrorContext();
    ~CKesErrorContext() = delete;  // lives until the process ends

    std::list<std::pair<LONG, host::wstring>> m_Errors;  // guarded by m_Lock
    LONG m_SessionNumber;                                // written once, during construction
    std::atomic<unsigned short> m_Category;
    CKesCriticalSection m_Lock;
};

// The trace pattern of the error module ("errors"), installed at load.
KES_API PelTrace_& KesErrorsTrace();

// Writes `theText` and a newline to the console under `thePattern`, but only
// while the pattern is switched on and the caller is not in interrupt context.
KES_API void KesTraceToConsole(const PelTrace_& thePattern, const std::string& theText);

// Takes the text of an error text stream and destroys the stream when it came
// from KesMakeErrorStream. Another string stream's text is read but the
// stream is left alone; any other stream yields the empty string.
KES_API std::string KesConsumeErrorStream(std::ostream& theStream);

// Whether the environment variable `theName` is present (its value is ignored).
KES_API bool KesSwitchPresent(const char* theName);
