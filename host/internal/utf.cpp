#include <host/internal/utf.h>

namespace host {
namespace utf {
namespace {

bool is_high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool is_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void append_utf16(wstring& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<WCHAR>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
}

// Decodes one code point of UTF-16 at text[i], advancing i.
char32_t next_utf16(const WCHAR* text, std::size_t length, std::size_t& i) {
    char32_t u = text[i++];
    if (!is_surrogate(u)) return u;
    if (is_high_surrogate(u) && i < length && is_low_surrogate(text[i])) {
        char32_t low = text[i++];
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
}

// Decodes one code point of UTF-8 at text[i], advancing i past the maximal
// prefix of a valid sequence (the Unicode "substitution of maximal subparts").
char32_t next_utf8(const unsigned char* text, std::size_t length, std::size_t& i) {
    unsigned char lead = text[i++];
    if (lead < 0x80) return lead;
    int trail;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first trail byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;  // no overlong forms
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;  // no overlong forms
        if (lead == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
    } else {
        return kReplacement;
    }
    for (int k = 0; k < trail; ++k) {
        if (i >= length) return kReplacement;
        unsigned char b = text[i];
        if (b < lo || b > hi) return kReplacement;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

}  // namespace

std::size_t length(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

std::string to_utf8(const WCHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length;) append_utf8(out, next_utf16(text, length, i));
    return out;
}

wstring to_utf16(const char* text, std::size_t length) {
    wstring out;
    out.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) append_utf16(out, next_utf8(bytes, length, i));
    return out;
}

std::u32string to_utf32(const WCHAR* text, std::size_t length) {
    std::u32string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length;) out.push_back(next_utf16(text, length, i));
    return out;
}

wstring from_utf32(const char32_t* text, std::size_t length) {
    wstring out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp > 0x10FFFF || is_surrogate(cp)) cp = kReplacement;
        append_utf16(out, cp);
    }
    return out;
}

}  // namespace utf
}  // namespace host
