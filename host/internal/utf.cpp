#include <host/internal/utf.h>

namespace host {
namespace utf {
namespace {

bool is_high_surrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}
bool is_surrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDFFF;
}

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

// Decodes one code point of UTF-16 at text[i], advancing i. A lone surrogate
// gives U+FFFD and sets `bad`.
char32_t next_utf16(const WCHAR* text, std::size_t length, std::size_t& i, bool& bad) {
    char32_t u = text[i++];
    if (!is_surrogate(u))
        return u;
    if (is_high_surrogate(u) && i < length && is_low_surrogate(text[i])) {
        char32_t low = text[i++];
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
    bad = true;
    return kReplacement;
}

char32_t next_utf16(const WCHAR* text, std::size_t length, std::size_t& i) {
    bool bad = false;
    return next_utf16(text, length, i, bad);
}

// Decodes one code point of UTF-8 at text[i], advancing i past the maximal
// prefix of a valid sequence (the Unicode "substitution of maximal subparts").
// An ill-formed sequence gives U+FFFD and sets `bad`.
char32_t next_utf8(const unsigned char* text, std::size_t length, std::size_t& i, bool& bad) {
    unsigned char lead = text[i++];
    if (lead < 0x80)
        return lead;
    int trail;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first trail byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0)
            lo = 0xA0;  // no overlong forms
        if (lead == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3;
        cp = lead & 0x07;
        if (lead == 0xF0)
            lo = 0x90;  // no overlong forms
        if (lead == 0xF4)
            hi = 0x8F;  // nothing past U+10FFFF
    } else {
        bad = true;
        return kReplacement;
    }
    for (int k = 0; k < trail; ++k) {
        unsigned char b = i < length ? text[i] : 0;
        if (i >= length || b < lo || b > hi) {
            bad = true;
            return kReplacement;
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

char32_t next_utf8(const unsigned char* text, std::size_t length, std::size_t& i) {
    bool bad = false;
    return next_utf8(text, length, i, bad);
}

std::size_t utf8_units(char32_t cp) {
    if (cp < 0x80)
        return 1;
    if (cp < 0x800)
        return 2;
    if (cp < 0x10000)
        return 3;
    return 4;
}

std::size_t put_utf8(char* out, char32_t cp) {
    auto* p = reinterpret_cast<unsigned char*>(out);
    if (cp < 0x80) {
        p[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        p[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        p[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    p[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    p[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    p[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    p[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

std::size_t put_utf16(WCHAR* out, char32_t cp) {
    if (cp < 0x10000) {
        out[0] = static_cast<WCHAR>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<WCHAR>(0xD800 + (cp >> 10));
    out[1] = static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
    return 2;
}

}  // namespace

std::size_t length(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

std::string to_utf8(const WCHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length;)
        append_utf8(out, next_utf16(text, length, i));
    return out;
}

wstring to_utf16(const char* text, std::size_t length) {
    wstring out;
    out.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;)
        append_utf16(out, next_utf8(bytes, length, i));
    return out;
}

std::u32string to_utf32(const WCHAR* text, std::size_t length) {
    std::u32string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length;)
        out.push_back(next_utf16(text, length, i));
    return out;
}

wstring from_utf32(const char32_t* text, std::size_t length) {
    wstring out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp > 0x10FFFF || is_surrogate(cp))
            cp = kReplacement;
        append_utf16(out, cp);
    }
    return out;
}

std::size_t utf8_size(const WCHAR* text, std::size_t length, bool* ill_formed) {
    bool bad = false;
    std::size_t size = 0;
    for (std::size_t i = 0; i < length;)
        size += utf8_units(next_utf16(text, length, i, bad));
    if (ill_formed)
        *ill_formed = bad;
    return size;
}

std::size_t encode_utf8(const WCHAR* text, std::size_t length, char* out) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < length;)
        n += put_utf8(out + n, next_utf16(text, length, i));
    return n;
}

std::size_t utf16_size(const char* text, std::size_t length, bool* ill_formed) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    bool bad = false;
    std::size_t size = 0;
    for (std::size_t i = 0; i < length;)
        size += next_utf8(bytes, length, i, bad) < 0x10000 ? 1 : 2;
    if (ill_formed)
        *ill_formed = bad;
    return size;
}

std::size_t encode_utf16(const char* text, std::size_t length, WCHAR* out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t n = 0;
    for (std::size_t i = 0; i < length;)
        n += put_utf16(out + n, next_utf8(bytes, length, i));
    return n;
}

}  // namespace utf
}  // namespace host
