// MultiByteToWideChar / WideCharToMultiByte: length conventions, UTF-8 as every
// ANSI page, substitution of ill-formed input, and the failure codes.
#include <host/codepage.h>
#include <host/error.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::literals;

host::wstring Wide(std::u16string text) {
    return host::wstring(text.begin(), text.end());
}

// Converts all of `text` (explicit length) through `codePage` with the
// sizing protocol; on failure returns empty and sets `*ok` false.
std::string ToNarrow(const host::wstring& text, UINT codePage = CP_ACP, DWORD flags = 0,
                     bool* ok = nullptr) {
    int n = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                nullptr, 0, nullptr, nullptr);
    if (ok)
        *ok = n > 0;
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    int written = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      out.data(), n, nullptr, nullptr);
    EXPECT_EQ(written, n);
    return out;
}

host::wstring ToWide(const std::string& text, UINT codePage = CP_ACP, DWORD flags = 0,
                     bool* ok = nullptr) {
    int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                nullptr, 0);
    if (ok)
        *ok = n > 0;
    if (n <= 0)
        return {};
    host::wstring out(static_cast<std::size_t>(n), 0);
    int written = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      out.data(), n);
    EXPECT_EQ(written, n);
    return out;
}

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";

// ---- Length conventions ------------------------------------------------------

TEST(CodePageLengths, TerminatedSourceCountsAndWritesTheTerminator) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    WCHAR wide[6] = {9, 9, 9, 9, 9, 9};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 6), 4);
    EXPECT_EQ(host::wstring(wide, 4), Wide(u"abc\0"s));
    EXPECT_EQ(wide[4], 9);  // nothing past the result

    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("abc"), -1, nullptr, 0, nullptr, nullptr), 4);
    char narrow[6] = "#####";
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, OLESTR("abc"), -1, narrow, 6, nullptr, nullptr), 4);
    EXPECT_STREQ(narrow, "abc");
    EXPECT_EQ(narrow[4], '#');
}

TEST(CodePageLengths, ExplicitLengthWritesNoTerminator) {
    WCHAR wide[4] = {9, 9, 9, 9};
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 4), 3);
    EXPECT_EQ(wide[2], 'c');
    EXPECT_EQ(wide[3], 9);

    char narrow[4] = {'#', '#', '#', '#'};
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, OLESTR("abc"), 3, narrow, 4, nullptr, nullptr), 3);
    EXPECT_EQ(narrow[2], 'c');
    EXPECT_EQ(narrow[3], '#');
}

TEST(CodePageLengths, EmbeddedZerosAreConvertedWithExplicitLength) {
    std::string narrow("a\0b", 3);
    EXPECT_EQ(ToWide(narrow), Wide(u"a\0b"s));
    EXPECT_EQ(ToNarrow(Wide(u"a\0b"s)), narrow);
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

// ---- The code page is UTF-8 --------------------------------------------------

TEST(CodePageIsUtf8, AcuteEIsTwoBytesInEveryAnsiPage) {
    for (UINT page : {CP_ACP, CP_OEMCP, CP_THREAD_ACP, CP_UTF8}) {
        SCOPED_TRACE(page);
        EXPECT_EQ(ToNarrow(Wide(u"\u00e9"), page), "\xC3\xA9");
        EXPECT_EQ(ToWide("\xC3\xA9", page), Wide(u"\u00e9"));
    }
}

TEST(CodePageIsUtf8, EveryEncodedLengthRoundTrips) {
    // One, two, three and four bytes; the last is a surrogate pair.
    host::wstring wide = Wide(u"A\u00e9\u65e5\U0001F600");
    std::string narrow = "A\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";
    EXPECT_EQ(ToNarrow(wide), narrow);
    EXPECT_EQ(ToWide(narrow), wide);
    EXPECT_EQ(ToWide(narrow).size(), 5u);
}

TEST(CodePageIsUtf8, ReplacementCharacterInInputIsNotAnError) {
    bool ok = false;
    EXPECT_EQ(ToWide(kReplacementUtf8, CP_UTF8, MB_ERR_INVALID_CHARS, &ok), Wide(u"\uFFFD"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(ToNarrow(Wide(u"\uFFFD"), CP_UTF8, WC_ERR_INVALID_CHARS, &ok), kReplacementUtf8);
    EXPECT_TRUE(ok);
}

// ---- Ill-formed input --------------------------------------------------------

TEST(CodePageSubstitution, LoneSurrogatesBecomeReplacementCharacters) {
    const WCHAR high = 0xD83D, low = 0xDE00;
    EXPECT_EQ(ToNarrow({high}), kReplacementUtf8);
    EXPECT_EQ(ToNarrow({low}), kReplacementUtf8);
    EXPECT_EQ(ToNarrow({'a', high, 'b'}), "a" + kReplacementUtf8 + "b");
    EXPECT_EQ(ToNarrow({low, high}), kReplacementUtf8 + kReplacementUtf8);  // reversed pair
    EXPECT_EQ(ToNarrow({high, low}), "\xF0\x9F\x98\x80");
}

TEST(CodePageSubstitution, HighSurrogateCutOffByTheLengthIsReplaced) {
    host::wstring pair = Wide(u"\U0001F600");
    int n = WideCharToMultiByte(CP_ACP, 0, pair.data(), 1, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(n, 3);
}

TEST(CodePageSubstitution, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
    struct Case {
        const char* input;
        std::size_t replacements;
    };
    const Case cases[] = {
        {"\xFF", 1},              // never a lead byte
        {"\x80", 1},              // a lone trail byte
        {"\xC3", 1},              // two-byte sequence cut short
        {"\xE2\x82", 1},          // three-byte sequence cut short: one maximal subpart
        {"\xC0\xAF", 2},          // overlong '/'
        {"\xE0\x80\x80", 3},      // overlong three-byte form
        {"\xED\xA0\x80", 3},      // an encoded surrogate
        {"\xF4\x90\x80\x80", 4},  // past U+10FFFF
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(ToWide(c.input), host::wstring(c.replacements, 0xFFFD));
    }
    EXPECT_EQ(ToWide("a\xFF"
                     "b"),
              Wide(u"a\uFFFDb"));
}

TEST(CodePageSubstitution, ErrInvalidCharsFlagsRejectIllFormedInput) {
    WCHAR wide[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xFF", -1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

    const WCHAR lone[] = {'a', 0xD800, 0};
    char narrow[8];
    SetLastError(0);
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, narrow, 8, nullptr, nullptr),
        0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

// ---- Invalid parameters ------------------------------------------------------

void ExpectFailure(int result, DWORD code) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), code);
}

TEST(CodePageParameters, BadBuffersAndLengthsAreInvalidParameters) {
    WCHAR wide[8];
    char narrow[8];
    SetLastError(0);
    ExpectFailure(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 8), ERROR_INVALID_PARAMETER);
    ExpectFailure(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8), ERROR_INVALID_PARAMETER);
    ExpectFailure(MultiByteToWideChar(CP_ACP, 0, "abc", -2, wide, 8), ERROR_INVALID_PARAMETER);
    ExpectFailure(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, -1), ERROR_INVALID_PARAMETER);
    ExpectFailure(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 8), ERROR_INVALID_PARAMETER);

    ExpectFailure(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 8, nullptr, nullptr),
                  ERROR_INVALID_PARAMETER);
    ExpectFailure(WideCharToMultiByte(CP_ACP, 0, OLESTR("abc"), 0, narrow, 8, nullptr, nullptr),
                  ERROR_INVALID_PARAMETER);
    ExpectFailure(WideCharToMultiByte(CP_ACP, 0, OLESTR("abc"), -1, nullptr, 8, nullptr, nullptr),
                  ERROR_INVALID_PARAMETER);
}

TEST(CodePageParameters, SharedSourceAndDestinationAreRejected) {
    alignas(WCHAR) char buffer[32] = "abcdef";
    SetLastError(0);
    ExpectFailure(MultiByteToWideChar(CP_ACP, 0, buffer, -1, reinterpret_cast<WCHAR*>(buffer), 16),
                  ERROR_INVALID_PARAMETER);
    ExpectFailure(
        MultiByteToWideChar(CP_ACP, 0, buffer + 4, -1, reinterpret_cast<WCHAR*>(buffer), 16),
        ERROR_INVALID_PARAMETER);

    WCHAR wide[16] = {'a', 'b', 'c', 0};
    ExpectFailure(WideCharToMultiByte(CP_ACP, 0, wide, -1, reinterpret_cast<char*>(wide + 1), 8,
                                      nullptr, nullptr),
                  ERROR_INVALID_PARAMETER);
    // Neighbours that do not overlap are fine.
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, reinterpret_cast<char*>(wide + 4), 8,
                                  nullptr, nullptr),
              4);
}

TEST(CodePageParameters, UnknownCodePagesAreInvalidParameters) {
    WCHAR wide[8];
    char narrow[8];
    SetLastError(0);
    ExpectFailure(MultiByteToWideChar(1252, 0, "abc", -1, wide, 8), ERROR_INVALID_PARAMETER);
    ExpectFailure(WideCharToMultiByte(932, 0, OLESTR("abc"), -1, narrow, 8, nullptr, nullptr),
                  ERROR_INVALID_PARAMETER);
}

TEST(CodePageParameters, FlagsOutsideTheCodePageAreInvalidFlags) {
    WCHAR wide[8];
    char narrow[8];
    SetLastError(0);
    ExpectFailure(MultiByteToWideChar(CP_ACP, MB_COMPOSITE, "abc", -1, wide, 8),
                  ERROR_INVALID_FLAGS);
    ExpectFailure(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", -1, wide, 8),
                  ERROR_INVALID_FLAGS);
    ExpectFailure(WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, OLESTR("a"), -1, narrow, 8,
                                      nullptr, nullptr),
                  ERROR_INVALID_FLAGS);
    ExpectFailure(WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, OLESTR("a"), -1, narrow, 8,
                                      nullptr, nullptr),
                  ERROR_INVALID_FLAGS);
}

TEST(CodePageParameters, LegacyNoOpFlagsAreAcceptedOnTheAnsiPages) {
    WCHAR wide[8];
    char narrow[8];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abc", -1, wide, 8), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, OLESTR("abc"), -1, narrow, 8,
                                  nullptr, nullptr),
              4);
}

TEST(CodePageParameters, DefaultCharacterArgumentsAreRejectedForUtf8) {
    char narrow[8];
    BOOL used = FALSE;
    SetLastError(0);
    ExpectFailure(WideCharToMultiByte(CP_UTF8, 0, OLESTR("a"), -1, narrow, 8, "?", nullptr),
                  ERROR_INVALID_PARAMETER);
    ExpectFailure(WideCharToMultiByte(CP_ACP, 0, OLESTR("a"), -1, narrow, 8, nullptr, &used),
                  ERROR_INVALID_PARAMETER);
    EXPECT_EQ(used, FALSE);
}

}  // namespace
