// MultiByteToWideChar / WideCharToMultiByte: length conventions, UTF-8 as every
// ANSI page, substitution of ill-formed input, and the failure codes.
#include <host/codepage.h>
#include <host/error.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace std::literals;

host::wstring Wide(std::u16string text) {
    return host::wstring(text.begin(), text.end());
}

// Converts all of `text` (explicit length) with the sizing protocol; empty
// when the sizing call fails.
std::string ToNarrow(const host::wstring& text, UINT codePage = CP_ACP, DWORD flags = 0) {
    const int length = static_cast<int>(text.size());
    int n = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0) {
        EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.data(), length, out.data(), n, nullptr,
                                      nullptr),
                  n);
    }
    return out;
}

host::wstring ToWide(const std::string& text, UINT codePage = CP_ACP, DWORD flags = 0) {
    const int length = static_cast<int>(text.size());
    int n = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    host::wstring out(static_cast<std::size_t>(std::max(n, 0)), 0);
    if (n > 0) {
        EXPECT_EQ(MultiByteToWideChar(codePage, flags, text.data(), length, out.data(), n), n);
    }
    return out;
}

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(CodePageLengths, TerminatedSourcesCountAndWriteTheTerminatorExplicitLengthsDoNot) {
    WCHAR wide[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 6), 4);
    EXPECT_EQ(host::wstring(wide, 5), Wide(u"abc\0\x09"s));  // nothing past the result
    wide[3] = 9;
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "xy", 2, wide, 6), 2);
    EXPECT_EQ(host::wstring(wide, 4), Wide(u"xyc\x09"s));  // no terminator written

    char narrow[6] = "#####";
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("abc"), -1, nullptr, 0, nullptr, nullptr), 4);
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("abc"), -1, narrow, 6, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(narrow, 5), "abc\0#"s);
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("xy"), 2, narrow, 6, nullptr, nullptr), 2);
    EXPECT_EQ(std::string(narrow, 5), "xyc\0#"s);

    EXPECT_EQ(ToWide("a\0b"s), Wide(u"a\0b"s));  // embedded zeros with explicit lengths
    EXPECT_EQ(ToNarrow(Wide(u"a\0b"s)), "a\0b"s);
}

TEST(CodePageLengths, ExactFitSucceedsAndOneUnitLessFails) {
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 4), 4);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char narrow[3];  // "é" needs two bytes and the terminator one more
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("\u00e9"), -1, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("\u00e9"), -1, narrow, 3, nullptr, nullptr), 3);
}

TEST(CodePageIsUtf8, EveryAnsiPageIsUtf8AndEveryEncodedLengthRoundTrips) {
    for (UINT page : {CP_ACP, CP_OEMCP, CP_THREAD_ACP, CP_UTF8}) {
        SCOPED_TRACE(page);
        EXPECT_EQ(ToNarrow(Wide(u"\u00e9"), page), "\xC3\xA9");
        EXPECT_EQ(ToWide("\xC3\xA9", page), Wide(u"\u00e9"));
    }
    // One, two, three and four bytes; the last is a surrogate pair.
    host::wstring wide = Wide(u"A\u00e9\u65e5\U0001F600");
    std::string narrow = "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";
    EXPECT_EQ(ToNarrow(wide), narrow);
    EXPECT_EQ(ToWide(narrow), wide);
    // A replacement character in the input is no error, even when errors are asked for.
    EXPECT_EQ(ToWide(kReplacement, CP_UTF8, MB_ERR_INVALID_CHARS), Wide(u"\uFFFD"));
    EXPECT_EQ(ToNarrow(Wide(u"\uFFFD"), CP_UTF8, WC_ERR_INVALID_CHARS), kReplacement);
}

TEST(CodePageSubstitution, LoneSurrogatesBecomeReplacementCharacters) {
    const WCHAR high = 0xD83D, low = 0xDE00;
    EXPECT_EQ(ToNarrow({high}), kReplacement);
    EXPECT_EQ(ToNarrow({low}), kReplacement);
    EXPECT_EQ(ToNarrow({'a', high, 'b'}), "a" + kReplacement + "b");
    EXPECT_EQ(ToNarrow({low, high}), kReplacement + kReplacement);  // reversed pair
    EXPECT_EQ(ToNarrow({high, low}), "\xF0\x9F\x98\x80");
    // A pair cut by the length: its high half alone, replaced (three bytes).
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("\U0001F600"), 1, nullptr, 0, nullptr, nullptr),
              3);
}

TEST(CodePageSubstitution, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"\xFF", 1},              // never a lead byte
        {"\x80", 1},              // a lone trail byte
        {"\xC3", 1},              // two-byte sequence cut short
        {"\xE2\x82", 1},          // three-byte sequence cut short: one maximal subpart
        {"\xC0\xAF", 2},          // overlong '/'
        {"\xE0\x80\x80", 3},      // overlong three-byte form
        {"\xED\xA0\x80", 3},      // an encoded surrogate
        {"\xF4\x90\x80\x80", 4},  // past U+10FFFF
    };
    for (const auto& [input, replacements] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(ToWide(input), host::wstring(replacements, 0xFFFD));
    }
    EXPECT_EQ(ToWide("a\377b"), Wide(u"a\uFFFDb"));
}

// Each call fails with its code.
TEST(CodePageFailures, IllFormedInputUnderTheErrorFlagsAndBadArgumentsAreRefused) {
    WCHAR wide[16] = {'a', 'b', 'c', 0};
    char narrow[8];
    alignas(WCHAR) char shared[32] = "abcdef";
    WCHAR* const overlap = reinterpret_cast<WCHAR*>(shared);
    const WCHAR lone[] = {'a', 0xD800, 0};
    BOOL used = FALSE;
    const struct {
        UINT page;
        DWORD flags;
        const char* source;
        int length;
        WCHAR* out;
        int size;
        DWORD code;
    } to_wide[] = {
        {CP_ACP, MB_ERR_INVALID_CHARS, "a\xFF", -1, wide, 8, ERROR_NO_UNICODE_TRANSLATION},
        {CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, nullptr, 0, ERROR_NO_UNICODE_TRANSLATION},
        {CP_ACP, 0, nullptr, -1, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, "abc", 0, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, "abc", -2, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, "abc", -1, wide, -1, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, "abc", -1, nullptr, 8, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, shared, -1, overlap, 16, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, shared + 4, -1, overlap, 16, ERROR_INVALID_PARAMETER},
        {1252, 0, "abc", -1, wide, 8, ERROR_INVALID_PARAMETER},  // only UTF-8 pages
        {CP_ACP, MB_COMPOSITE, "abc", -1, wide, 8, ERROR_INVALID_FLAGS},
        {CP_UTF8, MB_PRECOMPOSED, "abc", -1, wide, 8, ERROR_INVALID_FLAGS},
    };
    for (const auto& c : to_wide) {
        SCOPED_TRACE(testing::Message() << c.page << " " << c.flags << " " << c.length);
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.page, c.flags, c.source, c.length, c.out, c.size), 0);
        EXPECT_EQ(GetLastError(), c.code);
    }
    const struct {
        UINT page;
        DWORD flags;
        const WCHAR* source;
        int length;
        char* out;
        const char* default_char;
        BOOL* used_default;
        DWORD code;
    } to_narrow[] = {
        {CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, narrow, nullptr, nullptr,
         ERROR_NO_UNICODE_TRANSLATION},
        {CP_ACP, 0, nullptr, -1, narrow, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, OLESTR("abc"), 0, narrow, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, OLESTR("abc"), -1, nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, wide, -1, reinterpret_cast<char*>(wide + 1), nullptr, nullptr,
         ERROR_INVALID_PARAMETER},
        {932, 0, OLESTR("abc"), -1, narrow, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {CP_UTF8, WC_NO_BEST_FIT_CHARS, OLESTR("a"), -1, narrow, nullptr, nullptr,
         ERROR_INVALID_FLAGS},
        {CP_ACP, WC_COMPOSITECHECK, OLESTR("a"), -1, narrow, nullptr, nullptr, ERROR_INVALID_FLAGS},
        {CP_UTF8, 0, OLESTR("a"), -1, narrow, "?", nullptr, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, OLESTR("a"), -1, narrow, nullptr, &used, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : to_narrow) {
        SCOPED_TRACE(testing::Message() << c.page << " " << c.flags << " " << c.length);
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(c.page, c.flags, c.source, c.length, c.out, 8, c.default_char,
                                      c.used_default),
                  0);
        EXPECT_EQ(GetLastError(), c.code);
    }
    EXPECT_EQ(used, FALSE);
    // Neighbours that do not overlap are fine; so are the legacy no-op flags
    // on the ANSI pages.
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, reinterpret_cast<char*>(wide + 4), 8,
                                  nullptr, nullptr),
              4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abc", -1, wide, 8), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, OLESTR("abc"), -1, narrow, 8,
                                  nullptr, nullptr),
              4);
}

}  // namespace
