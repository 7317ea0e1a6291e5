// Case-blind comparison of UTF-16 names, as the registry needs it: two names
// are the same when their simple upper-case forms are equal unit for unit.
//
// The mapping is fixed data (upcase_table.inc) rather than the C library's
// locale tables, so that every process on every host orders and matches
// names the same way. Only units of the Basic Multilingual Plane change;
// surrogate units (and so every supplementary character) map to themselves.
#pragma once

#include <host/types.h>

#include <cstddef>

namespace host {
namespace casefold {

// The simple upper-case form of one UTF-16 unit.
WCHAR upcase(WCHAR unit);

// Upper-cases `length` units of `text` into `out` (which may be `text`).
void upcase(const WCHAR* text, std::size_t length, WCHAR* out);

}  // namespace casefold
}  // namespace host
