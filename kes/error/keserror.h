// Raising errors, assertions and the fatal exit.
//
// Every failure in kes and in the applications built on it goes through here:
//
//  - `KesRaiseError(code, text, file, line)` records the caller's text under
//    the code in the process's table of recent errors (at most 10 entries,
//    newest first), asks the tester's error-message server for the code's
//    standard message, reports "Error 0x<code> in <file>, line <line>:\r\n"
//    followed by the message and the text on the console (trace pattern
//    "errors") or, with DOV_LOG_ERRORS set, in the event log, and returns the
//    code unchanged so that a caller can raise and return in one statement.
//  - `KES_ASSERT(condition)` reports a failed precondition and carries on with
//    the next statement; with DOV_HALT_ASSERTIONS set the failure is fatal.
//  - `KesQuit(stream)` reports a fatal error, tells the recorded test
//    session's manager, and ends the process at once with exit status -1
//    (255 as Linux reports it) unless DOV_NO_EXIT is set.
//
// The three DOV_ switches are read from the environment at every use; only
// their presence counts. All functions here may be called from any thread and
// never throw. The table of recent errors is guarded by one leaf lock: nothing
// else is locked while it is held, and no outside code runs under it.
//
// Error text streams: `KesMakeErrorStream()` returns a new in-memory narrow
// stream. Whoever receives it (the stream overload of `KesRaiseError`,
// `KesLogEvent(type, stream)` or `KesQuit`) reads its text and destroys it;
// after that call the reference is dangling. A stream that did not come from
// `KesMakeErrorStream` is never destroyed by these functions: the text of a
// `std::ostringstream` is still read, any other stream gives the empty text.
#pragma once

#include <host/types.h>
#include <kes/error/kescodes.h>
#include <kes/export.h>

#include <cstddef>
#include <ostream>

// ---- Raising -----------------------------------------------------------------

// Records `text` (null: the empty string) under `code`, reports the error and
// returns `code`. Code 0 is success: it returns 0 at once and does nothing.
KES_API LONG KesRaiseError(LONG code, const char* text, const char* file, int line);

// As above with the text accumulated in `stream`, which must come from
// KesMakeErrorStream and is destroyed in every case, code 0 included.
KES_API LONG KesRaiseError(LONG code, std::ostream& stream, const char* file, int line);

// A new, empty error text stream; see the header comment for its ownership.
KES_API std::ostream& KesMakeErrorStream();

// ---- Assertions and fatal exit -------------------------------------------------

// Reports "Assertion failed in <file>, line <line>:\r\n<expression>" to the
// event log and the console, then returns; with DOV_HALT_ASSERTIONS present
// the report is made fatal through KesQuit instead.
KES_API void KesAssertionFailed(const char* expression, const char* file, int line);

// Reports "Fatal error[ in session N]:  <text>" to the event log and to the
// recorded test session's manager, destroys `stream`, and ends the process
// with exit status -1 (no exit handlers, no static destructors, no flushing).
// Returns only when DOV_NO_EXIT is present.
KES_API void KesQuit(std::ostream& stream);

// ---- Fetching recorded texts ---------------------------------------------------

// All texts recorded for `code`, newest first, joined by "\r\n"; the entries
// are removed. A code with no entry gives the empty string.
KES_API void KesGetErrorMessage(LONG code, host::wstring& text);

// The newest text recorded for `code`; every entry for the code is removed.
KES_API void KesGetLastErrorMessage(LONG code, host::wstring& text);

// ---- Source names ----------------------------------------------------------------

namespace kes_detail {

// A source path turned, at compile time, into the name reports use: the path
// below the library root without its extension ("kes/util/kesenumconverterbc").
// The build maps the project root away from __FILE__; an absolute path (a
// header included from an installed tree) is cut after its last "/kes/".
template <std::size_t N>
struct SourceName {
    char text[N];

    constexpr explicit SourceName(const char (&path)[N]) : text() {
        std::size_t begin = 0;
        std::size_t end = N - 1;
        for (std::size_t i = 0; i + 5 <= N - 1; ++i) {
            if (path[i] == '/' && path[i + 1] == 'k' && path[i + 2] == 'e' && path[i + 3] == 's' &&
                path[i + 4] == '/')
                begin = i + 1;
        }
        for (std::size_t i = N - 1; i > begin; --i) {
            if (path[i - 1] == '/')
                break;
            if (path[i - 1] == '.') {
                end = i - 1;
                break;
            }
        }
        std::size_t out = 0;
        for (std::size_t i = begin; i < end; ++i)
            text[out++] = path[i];
        text[out] = '\0';
    }
};

}  // namespace kes_detail

// The name of the current source file as reports give it, e.g.
// "kes/error/keserror"; a constant with static storage duration.
#define KES_SOURCE_FILE                                                              \
    ([]() -> const char* {                                                           \
        static constexpr ::kes_detail::SourceName<sizeof(__FILE__)> kName(__FILE__); \
        return kName.text;                                                           \
    }())

// Reports a failed precondition and continues with the next statement.
#define KES_ASSERT(condition)                                          \
    do {                                                               \
        if (!(condition)) {                                            \
            KesAssertionFailed(#condition, KES_SOURCE_FILE, __LINE__); \
        }                                                              \
    } while (0)
