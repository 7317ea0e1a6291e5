// Reading the numbers of an address text the way swscanf reads a format of
// unsigned conversions separated by one literal character ("%lu.%lu.%lu.%lu",
// "%X:%X:%X:%X:%X:%X"), without the C library: its wide functions work on the
// 32-bit wchar_t, not on the library's 16-bit units.
//
// For each number: white space (blank, tab, line feed, vertical tab, form
// feed, carriage return) is skipped; one '+' or '-' may follow; a hexadecimal
// number may carry a "0x" or "0X" prefix when a hexadecimal digit follows it;
// then at least one digit (ASCII only). Between numbers the separator must
// come next, with no white space before it. Reading stops at the first
// mismatch, at a zero unit or at the end of the text, and ignores whatever
// follows the last number.
//
// A number is kept as read when it is a non-negative value of at most 32 bits.
// A negative value other than zero, or one that needs more than 32 bits, is
// kept as kOutOfRange, which no caller accepts: the C library would wrap a
// negative number to a large unsigned one, and saturate or wrap one that is
// too wide, and neither may ever land inside an address byte's range.
#pragma once

#include <host/types.h>

#include <cstddef>
#include <cstdint>

namespace kes_detail {

constexpr std::uint64_t kOutOfRange = 0xFFFFFFFFFFFFFFFFull;

// Reads up to `theCount` numbers in `theRadix` (10 or 16) separated by
// `theSeparator` from the `theLength` units at `theText`; stores them in
// `theValues` and returns how many were read.
int ScanNumbers(const WCHAR* theText, std::size_t theLength, WCHAR theSeparator, int theRadix,
                int theCount, std::uint64_t* theValues);

}  // namespace kes_detail
