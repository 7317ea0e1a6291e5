// Conversions between narrow text (8-bit units) and wide text (UTF-16 in
// 16-bit units).
//
// Two families that convert differently:
//
// - KesWideToMultibyte, KesMultibyteToWide and KesCoMultibyteToWide return a
//   new block owned by the caller and convert with the C library's current
//   locale (LC_CTYPE), as wcstombs and mbstowcs do. In a UTF-8 locale that is
//   UTF-8; in the default "C" locale only ASCII has a narrow form.
// - KesAnsiToWide and KesWideToAnsi fill a buffer that the caller supplies and
//   convert through the host's ANSI code page, which is UTF-8 on this host.
//   They exist for the library's own use (error and event texts, registry
//   names), which builds text on the fly without touching the heap; they are
//   exported so that every module of the library, and its tests, reach them.
//
// Substitutions, so that every result is a complete, terminated string:
// - a lone surrogate in wide text, and narrow input that is not valid in the
//   encoding used, become U+FFFD (wide results) or its narrow form;
// - a character that the current locale cannot represent becomes '?' in the
//   result of KesWideToMultibyte.
//
// All functions are thread-safe as far as the C library's locale is: changing
// the locale (setlocale) while another thread converts is undefined, as it is
// for wcstombs itself.
#pragma once

#include <host/types.h>
#include <kes/export.h>

#include <cstddef>
#include <string>

// A new terminated narrow string with `text` in the current locale's
// multibyte encoding, or null when memory is exhausted or `text` is null.
// The block comes from malloc; the caller frees it with free(). It holds
// (wide units + 1) bytes when that is enough, as for ASCII text, and grows to
// the encoded size otherwise, so no character is ever cut.
KES_API char* KesWideToMultibyte(const unsigned short* text);

// A new terminated wide string with `text` decoded from the current locale's
// multibyte encoding, or null when memory is exhausted or `text` is null.
// The block comes from malloc; the caller frees it with free(). It holds
// (bytes + 1) units, or more should the decoded text need it.
KES_API unsigned short* KesMultibyteToWide(const char* text);

// As KesMultibyteToWide, but the block comes from the COM task allocator: the
// caller, or the COM client that receives it, frees it with CoTaskMemFree().
KES_API unsigned short* KesCoMultibyteToWide(const char* text);

// For the library's own use. Converts the terminated narrow `text` (ANSI code
// page) into `buffer`, which holds `capacity` 16-bit units, terminator
// included, and returns `buffer`. The result is always terminated: when the
// whole text does not fit, `buffer` holds the empty string. A null `text`, a
// null `buffer` or a capacity below 1 returns null and writes nothing.
// KesWideCapacity gives a capacity that always suffices.
KES_API unsigned short* KesAnsiToWide(unsigned short* buffer, const char* text, int capacity);

// For the library's own use. Converts the terminated wide `text` into `buffer`
// (ANSI code page), which holds `capacity` bytes, terminator included, and
// returns `buffer`. The result is always terminated: when the whole text does
// not fit, `buffer` holds the empty string. A null `text`, a null `buffer` or a
// capacity below 1 returns null and writes nothing. KesAnsiCapacity gives a
// capacity that always suffices.
KES_API char* KesWideToAnsi(char* buffer, const unsigned short* text, int capacity);

// Units that KesAnsiToWide needs for narrow text of `length` bytes: one unit
// per byte at most, plus the terminator.
constexpr std::size_t KesWideCapacity(std::size_t length) {
    return length + 1;
}

// Bytes that KesWideToAnsi needs for wide text of `length` units. The ANSI
// code page is UTF-8 here, where one unit can take three bytes (a surrogate
// pair takes four for its two units), so twice the length is not enough.
constexpr std::size_t KesAnsiCapacity(std::size_t length) {
    return 3 * length + 1;
}

// For the library's own use: the whole of `text` (`length` bytes, terminator
// not counted) converted from the ANSI code page. Invalid input becomes
// U+FFFD; nothing is cut. A null `text` gives the empty string.
KES_API host::wstring KesAnsiToWideString(const char* text, std::size_t length);

// For the library's own use: the whole of `text` (`length` units) converted
// to the ANSI code page. Lone surrogates become U+FFFD; nothing is cut.
KES_API std::string KesWideToAnsiString(const unsigned short* text, std::size_t length);
