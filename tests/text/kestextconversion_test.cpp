// The kes text conversions: locale-driven heap results, code-page buffer
// fills, block sizes, substitution, termination and the allocator pairing.
#include <kes/error/kestextconversion.h>

#include <host/taskalloc.h>
#include <host/types.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace std::literals;

host::wstring Wide(std::u16string text) {
    return host::wstring(text.begin(), text.end());
}

// Sets LC_CTYPE for one test and restores the previous setting.
class CtypeLocale {
  public:
    explicit CtypeLocale(const char* name) : m_Previous(std::setlocale(LC_CTYPE, nullptr)) {
        m_Ok = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CtypeLocale() { std::setlocale(LC_CTYPE, m_Previous.c_str()); }
    bool ok() const { return m_Ok; }

  private:
    std::string m_Previous;
    bool m_Ok;
};

// The block holds the string and its terminator. With the address sanitizer
// the usable size is the requested one, which makes this exact.
void ExpectFits(const void* block, std::size_t bytes) {
    EXPECT_GE(malloc_usable_size(const_cast<void*>(block)), bytes);
}

std::string Narrow(const host::wstring& text) {
    char* block = KesWideToMultibyte(text.c_str());
    EXPECT_NE(block, nullptr);
    if (block == nullptr)
        return "<null>";
    std::string result(block);
    ExpectFits(block, std::max(result.size(), text.size()) + 1);
    std::free(block);
    return result;
}

host::wstring WideOf(const char* text) {
    unsigned short* block = KesMultibyteToWide(text);
    EXPECT_NE(block, nullptr);
    if (block == nullptr)
        return Wide(u"<null>");
    host::wstring result(block);
    ExpectFits(block, (std::max(result.size(), std::strlen(text)) + 1) * 2);
    std::free(block);
    return result;
}

// Heap results in the current locale: exact texts, a block that holds them
// whole, substitutes for what the locale cannot represent.
TEST(KesHeapConversions, WideToNarrowInEachLocale) {
    const unsigned short lone[] = {'a', 0xDC00, 'b', 0xD800, 0};
    struct Case {
        const char* locale;
        host::wstring text;
        const char* expected;
    };
    const Case cases[] = {
        {"C", Wide(u""), ""},
        {"C", Wide(u"abc"), "abc"},
        {"C.UTF-8", Wide(u"abc"), "abc"},
        // One unit each but two, three and (the pair) four bytes: a block of
        // units + 1 bytes could not hold them.
        {"C.UTF-8", Wide(u"\u00e9"), "\xC3\xA9"},
        {"C.UTF-8", Wide(u"\u65e5\u672c\u8a9e"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"C.UTF-8", Wide(u"x\U0001F600"), "x\xF0\x9F\x98\x80"},
        {"C.UTF-8", lone,
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD"},  // lone surrogates: substituted
        {"C", lone, "a?b?"},
        {"C", Wide(u"a\u00e9b"), "a?b"},
        {"C", Wide(u"\U0001F600"), "?"},  // one character, one substitute
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.expected);
        CtypeLocale scope(c.locale);
        ASSERT_TRUE(scope.ok());
        EXPECT_EQ(Narrow(c.text), c.expected);
    }
}

TEST(KesHeapConversions, NarrowToWideInEachLocale) {
    struct Case {
        const char* locale;
        const char* text;
        host::wstring expected;
    };
    const Case cases[] = {
        {"C", "", Wide(u"")},
        {"C", "abc", Wide(u"abc")},
        {"C.UTF-8", "abc", Wide(u"abc")},
        {"C.UTF-8", "\xE6\x97\xA5\xF0\x9F\x98\x80", Wide(u"\u65e5\U0001F600")},
        {"C.UTF-8", "a\377b", Wide(u"a\uFFFDb")},  // invalid: replaced
        {"C.UTF-8", "ab\xC3", Wide(u"ab\uFFFD")},  // cut short at the end
        {"C", "\xC3\xA9", Wide(u"\uFFFD\uFFFD")},  // only ASCII is valid here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.text);
        CtypeLocale scope(c.locale);
        ASSERT_TRUE(scope.ok());
        EXPECT_EQ(WideOf(c.text), c.expected);
    }
    EXPECT_EQ(KesWideToMultibyte(nullptr), nullptr);
    EXPECT_EQ(KesMultibyteToWide(nullptr), nullptr);
    EXPECT_EQ(KesCoMultibyteToWide(nullptr), nullptr);
}

// The task allocator accepts the block (it stops on any other); a plain
// result goes back with free (a task block there would be an invalid free).
TEST(KesHeapConversions, EachResultComesFromItsAllocator) {
    for (const char* text : {"abc", ""}) {
        unsigned short* wide = KesCoMultibyteToWide(text);
        ASSERT_NE(wide, nullptr);
        EXPECT_EQ(host::wstring(wide), host::wstring(text, text + std::strlen(text)));
        wide = static_cast<unsigned short*>(CoTaskMemRealloc(wide, 64));
        ASSERT_NE(wide, nullptr);
        EXPECT_EQ(host::wstring(wide), host::wstring(text, text + std::strlen(text)));
        CoTaskMemFree(wide);
    }
    unsigned short* wide = KesMultibyteToWide("abc");
    ASSERT_NE(wide, nullptr);
    ExpectFits(wide, 4 * sizeof(unsigned short));
    std::free(wide);
}

// Buffer fills, through the ANSI code page.
TEST(KesBufferConversions, AnsiCodePageIsUtf8WhateverTheLocaleAndInvalidInputIsReplaced) {
    CtypeLocale scope("C");
    char narrow[8];
    ASSERT_EQ(KesWideToAnsi(narrow, OLESTR("\u00e9"), sizeof narrow), narrow);
    EXPECT_STREQ(narrow, "\xC3\xA9");
    unsigned short wide[4];
    ASSERT_EQ(KesAnsiToWide(wide, "\xC3\xA9", 4), wide);
    EXPECT_EQ(host::wstring(wide), Wide(u"\u00e9"));
    ASSERT_EQ(KesAnsiToWide(wide, "a\377b", 4), wide);
    EXPECT_EQ(host::wstring(wide), Wide(u"a\uFFFDb"));
}

TEST(KesBufferConversions, CapacityHelpersAlwaysSufficeForARoundTrip) {
    struct Case {
        host::wstring text;
        host::wstring back;  // what the round trip yields
    };
    const Case cases[] = {
        {Wide(u""), Wide(u"")},
        {Wide(u"abc"), Wide(u"abc")},
        {Wide(u"\u65e5\u672c\u8a9e\u00e9"), Wide(u"\u65e5\u672c\u8a9e\u00e9")},
        {Wide(u"\U0001F600\U0001F601"), Wide(u"\U0001F600\U0001F601")},
        {host::wstring{0xDC00, 'x', 0xD800}, Wide(u"\uFFFDx\uFFFD")},
    };
    for (const Case& c : cases) {
        std::string narrow(KesAnsiCapacity(c.text.size()), '#');
        ASSERT_NE(KesWideToAnsi(narrow.data(), c.text.c_str(), static_cast<int>(narrow.size())),
                  nullptr);
        std::size_t length = std::strlen(narrow.c_str());
        ASSERT_LT(length, narrow.size());

        host::wstring back(KesWideCapacity(length), '#');
        ASSERT_NE(KesAnsiToWide(back.data(), narrow.c_str(), static_cast<int>(back.size())),
                  nullptr);
        EXPECT_EQ(host::wstring(back.c_str()), c.back);
    }
}

TEST(KesBufferConversions, TextThatDoesNotFitLeavesTheEmptyString) {
    // Two bytes per unit is not enough for three-byte characters.
    const unsigned short* text = OLESTR("\u65e5\u672c\u8a9e");
    char narrow[12];
    std::memset(narrow, '#', sizeof narrow);
    ASSERT_EQ(KesWideToAnsi(narrow, text, 2 * (3 + 1)), narrow);
    EXPECT_EQ(narrow[0], '\0');
    EXPECT_EQ(narrow[8], '#');  // nothing written past the capacity

    unsigned short wide[6];
    std::fill(std::begin(wide), std::end(wide), '#');
    ASSERT_EQ(KesAnsiToWide(wide, "abcd", 4), wide);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(wide[4], '#');
}

TEST(KesBufferConversions, NullOrEmptyArgumentsGiveNullAndWriteNothing) {
    char narrow[4] = "##";
    unsigned short wide[4] = {'#', 0};
    EXPECT_EQ(KesWideToAnsi(narrow, nullptr, 4), nullptr);
    EXPECT_EQ(KesAnsiToWide(wide, nullptr, 4), nullptr);
    EXPECT_EQ(KesWideToAnsi(nullptr, OLESTR("a"), 4), nullptr);
    EXPECT_EQ(KesAnsiToWide(nullptr, "a", 4), nullptr);
    EXPECT_EQ(KesWideToAnsi(narrow, OLESTR("a"), 0), nullptr);
    EXPECT_EQ(KesAnsiToWide(wide, "a", 0), nullptr);
    EXPECT_STREQ(narrow, "##");
    EXPECT_EQ(wide[0], '#');
}

}  // namespace
