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
inline std::string to_utf8(const wstring& text) {
    return to_utf8(text.data(), text.size());
}

// UTF-8 to UTF-16.
wstring to_utf16(const char* text, std::size_t length);
inline wstring to_utf16(const std::string& text) {
    return to_utf16(text.data(), text.size());
}

// UTF-16 to UTF-32 and back, for the C library's 32-bit wchar_t.
std::u32string to_utf32(const WCHAR* text, std::size_t length);
wstring from_utf32(const char32_t* text, std::size_t length);

// Allocation-free forms for the code-page functions. The `*_size` functions
// measure what the matching `encode_*` writes for the same input, and set
// `*ill_formed` (when given) to whether any U+FFFD substitution is needed; a
// U+FFFD that is present in well-formed input does not count. `encode_*`
// writes exactly that many units and returns the count; the caller provides
// room for it. Embedded zero units are converted like any other.
std::size_t utf8_size(const WCHAR* text, std::size_t length, bool* ill_formed);
std::size_t encode_utf8(const WCHAR* text, std::size_t length, char* out);
std::size_t utf16_size(const char* text, std::size_t length, bool* ill_formed);
std::size_t encode_utf16(const char* text, std::size_t length, WCHAR* out);

}  // namespace utf
}  // namespace host
