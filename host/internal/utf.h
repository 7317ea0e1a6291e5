// UTF-8 <-> UTF-16 transcoding shared by the host services (code pages, the
// event log and registry stores). Internal: callers use the Win32 functions.
//
// Both directions are total: input that is not well formed (a lone surrogate,
// a truncated or overlong UTF-8 sequence, a code point past U+10FFFF) becomes
// U+FFFD, one per maximal ill-formed subsequence, so nothing is dropped silently
// and the output is always valid.
#pragma once

#include <host/types.h>

#include <cstddef>
#include <string>

namespace host {
namespace utf {

constexpr char32_t kReplacement = 0xFFFD;

// Number of 16-bit units before the terminator. `text` must not be null.
std::size_t length(const WCHAR* text);

// UTF-16 to UTF-8.
std::string to_utf8(const WCHAR* text, std::size_t length);
inline std::string to_utf8(const wstring& text) { return to_utf8(text.data(), text.size()); }

// UTF-8 to UTF-16.
wstring to_utf16(const char* text, std::size_t length);
inline wstring to_utf16(const std::string& text) { return to_utf16(text.data(), text.size()); }

// UTF-16 to UTF-32 and back, for the C library's 32-bit wchar_t.
std::u32string to_utf32(const WCHAR* text, std::size_t length);
wstring from_utf32(const char32_t* text, std::size_t length);

}  // namespace utf
}  // namespace host
