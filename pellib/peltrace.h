// Trace patterns: per-module switches for console tracing.
//
// A module that traces owns one static PelTrace_ record, which names its
// component, its module and its source file, and holds the trace-enabled word.
// The module installs the record once (pelTraceInstallPattern), usually from a
// static initialiser, and before writing a trace line reads the word: nonzero
// means on. The word is an atomic, so reading it needs no lock, and it may be
// switched by any thread at any time.
//
// Switching patterns on and off:
// - at run time with pelTraceEnable(selector, on);
// - at installation from the environment variable PEL_TRACE, a list of
//   `selector=on` / `selector=off` items separated by commas or blanks, for
//   example PEL_TRACE="errors=off,kesregistrar=on" (1/0 are taken for on/off).
// A selector is a module name ("errors"), a component and module
// ("kes.errors"), a whole component ("kes.*") or everything ("*"); names
// compare without regard to ASCII case. A newly installed record starts from
// the word it was initialised with, then takes the PEL_TRACE items in order,
// then every pelTraceEnable call made so far in call order: the latest match
// wins. Malformed PEL_TRACE items are ignored with one warning on the console.
//
// The trace prefix (pelTraceExpression) tells the local time to the
// millisecond, the process and thread ids, and, when the stream belongs to a
// PelConsole made for a pattern, the pattern's component and module:
//   "2026-12-06 12:34:56.789 [4711/4712] kes errors: "
// and otherwise
//   "2026-12-06 12:34:56.789 [4711/4712] ".
//
// A record must stay valid while installed: a module that can be unloaded
// removes its record first (pelTraceRemovePattern).
#pragma once

#include <pellib/export.h>

#include <atomic>
#include <cstdint>
#include <ostream>

// One module's trace pattern. The fields keep the record's fixed order; on
// this 64-bit host the three text fields are pointers, not 32-bit words. The
// reserved fields are filled with the constants shown and unused here.
struct PelTrace_ {
    std::int32_t reserved0;             // 0
    const char* component;              // the component, e.g. "kes"
    const char* module;                 // the module, e.g. "errors"
    const char* file;                   // the module's source, e.g. "kes/error/keserror"
    std::int32_t reserved4;             // 0
    std::int32_t reserved5;             // -1
    std::atomic<std::int32_t> enabled;  // nonzero: tracing on; initially -1
    std::int32_t reserved7;             // 0
};

// Registers `pattern` and applies PEL_TRACE and the pelTraceEnable calls made
// so far to its trace-enabled word. Returns the record's installation number,
// positive; installing an installed record again changes nothing and returns
// the same number. `pattern.component` and `pattern.module` must be non-null
// terminated texts that live as long as the record. Thread-safe.
PEL_API int pelTraceInstallPattern(PelTrace_& pattern);

// Unregisters `pattern`; afterwards pelTraceEnable no longer writes to it.
// Returns 1 when it was installed, else 0. Thread-safe.
PEL_API int pelTraceRemovePattern(PelTrace_& pattern);

// Switches every installed pattern that `selector` names on or off, and keeps
// the choice for patterns installed later. Returns how many installed patterns
// the selector names, or -1 (nothing changed) for a null or malformed
// selector. Thread-safe.
PEL_API int pelTraceEnable(const char* selector, bool on);

// Writes the trace prefix (above) to `stream` and returns it. Use it as a
// manipulator: `PelConsole(thePattern) << pelTraceExpression << text << '\n'`.
PEL_API std::ostream& pelTraceExpression(std::ostream& stream);
