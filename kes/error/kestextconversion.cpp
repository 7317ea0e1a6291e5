#include <kes/error/kestextconversion.h>

#include <host/codepage.h>
#include <host/taskalloc.h>
#include <host/types.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

static_assert(sizeof(wchar_t) == 4, "the C library's wchar_t holds one code point");

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::size_t WideLength(const unsigned short* text) {
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// One code point of UTF-16 at text[i], advancing i; a lone surrogate gives
// U+FFFD.
char32_t NextCodePoint(const unsigned short* text, std::size_t length, std::size_t& i) {
    char32_t unit = text[i++];
    if (unit < 0xD800 || unit > 0xDFFF)
        return unit;
    if (unit <= 0xDBFF && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
        char32_t low = text[i++];
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
}

void AppendUtf16(host::wstring& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x10000) {
        out.push_back(static_cast<unsigned short>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<unsigned short>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<unsigned short>(0xDC00 + (cp & 0x3FF)));
}

// The narrow form of `text` in the current locale, without a terminator. A
// character the locale cannot represent becomes '?', which every locale has:
// the conversion never stops early, unlike wcstombs.
std::string ToLocaleNarrow(const unsigned short* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (std::size_t i = 0; i < length;) {
        auto wc = static_cast<wchar_t>(NextCodePoint(text, length, i));
        std::size_t n = std::wcrtomb(bytes, wc, &state);
        if (n == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};  // undefined after a failure
            n = std::wcrtomb(bytes, L'?', &state);
        }
        if (n != static_cast<std::size_t>(-1))
            out.append(bytes, n);
    }
    // Return a stateful encoding to its initial shift state; drop the NUL.
    std::size_t n = std::wcrtomb(bytes, L'\0', &state);
    if (n != static_cast<std::size_t>(-1) && n > 1)
        out.append(bytes, n - 1);
    return out;
}

// `text` (of `length` bytes) decoded with the current locale. Each byte that
// does not start a valid character becomes one U+FFFD, and an incomplete
// character at the end one more, so decoding never stops early, unlike mbstowcs.
host::wstring FromLocaleNarrow(const char* text, std::size_t length) {
    host::wstring out;
    out.reserve(length);
    std::mbstate_t state{};
    for (std::size_t i = 0; i < length;) {
        wchar_t wc = 0;
        std::size_t n = std::mbrtowc(&wc, text + i, length - i, &state);
        if (n == static_cast<std::size_t>(-2)) {
            out.push_back(static_cast<unsigned short>(kReplacement));
            break;
        }
        if (n == static_cast<std::size_t>(-1) || n == 0) {
            out.push_back(static_cast<unsigned short>(kReplacement));
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        AppendUtf16(out, static_cast<char32_t>(wc));
        i += n;
    }
    return out;
}

using Allocator = void* (*)(std::size_t);

void* HeapAllocate(std::size_t size) {
    return std::malloc(size);
}
void* TaskAllocate(std::size_t size) {
    return CoTaskMemAlloc(size);
}

// The wide block of (bytes + 1) units that the interface promises, grown if
// the decoded text needs more.
unsigned short* MultibyteToWide(const char* text, Allocator allocate) {
    if (text == nullptr)
        return nullptr;
    std::size_t bytes = std::strlen(text);
    host::wstring wide;
    try {
        wide = FromLocaleNarrow(text, bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::size_t units = std::max(bytes, wide.size()) + 1;
    auto* block = static_cast<unsigned short*>(allocate(units * sizeof(unsigned short)));
    if (block == nullptr)
        return nullptr;
    std::copy(wide.begin(), wide.end(), block);
    block[wide.size()] = 0;
    return block;
}

}  // namespace

char* KesWideToMultibyte(const unsigned short* text) {
    if (text == nullptr)
        return nullptr;
    std::size_t units = WideLength(text);
    std::string narrow;
    try {
        narrow = ToLocaleNarrow(text, units);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    // (units + 1) bytes, as the interface promises, unless the encoded text
    // needs more; a character is never cut and the terminator always fits.
    std::size_t size = std::max(units, narrow.size()) + 1;
    auto* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr)
        return nullptr;
    std::memcpy(block, narrow.c_str(), narrow.size() + 1);
    return block;
}

unsigned short* KesMultibyteToWide(const char* text) {
    return MultibyteToWide(text, HeapAllocate);
}

unsigned short* KesCoMultibyteToWide(const char* text) {
    return MultibyteToWide(text, TaskAllocate);
}

unsigned short* KesAnsiToWide(unsigned short* buffer, const char* text, int capacity) {
    if (text == nullptr || buffer == nullptr || capacity < 1)
        return nullptr;
    buffer[0] = 0;
    // A failed conversion (the text does not fit) may have written part of
    // the buffer; the empty string is what a failure leaves.
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, capacity) == 0)
        buffer[0] = 0;
    return buffer;
}

char* KesWideToAnsi(char* buffer, const unsigned short* text, int capacity) {
    if (text == nullptr || buffer == nullptr || capacity < 1)
        return nullptr;
    buffer[0] = 0;
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, capacity, nullptr, nullptr) == 0) {
        buffer[0] = 0;
    }
    return buffer;
}

host::wstring KesAnsiToWideString(const char* text, std::size_t length) {
    host::wstring result;
    if (text == nullptr || length == 0 || length > INT_MAX)
        return result;
    const int source = static_cast<int>(length);
    int units = MultiByteToWideChar(CP_ACP, 0, text, source, nullptr, 0);
    if (units <= 0)
        return result;
    result.resize(static_cast<std::size_t>(units));
    MultiByteToWideChar(CP_ACP, 0, text, source, &result[0], units);
    return result;
}

std::string KesWideToAnsiString(const unsigned short* text, std::size_t length) {
    std::string result;
    if (text == nullptr || length == 0 || length > INT_MAX)
        return result;
    const int source = static_cast<int>(length);
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, source, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return result;
    result.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, text, source, &result[0], bytes, nullptr, nullptr);
    return result;
}
