// Automation strings: the length prefix, termination, embedded zeros, byte
// lengths, null handling, reallocation and overlong requests.
#include <host/oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Free {
    void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using Owned = std::unique_ptr<OLECHAR, Free>;

std::uint32_t Prefix(BSTR text) {
    std::uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
    return bytes;
}

host::wstring Units(BSTR text) {
    return host::wstring(text, SysStringLen(text));
}

const WCHAR kAbc[] = {'a', 'b', 'c', 0};
const WCHAR kWithZero[] = {'a', 0, 'b', 'c', 0};

TEST(BstrLayout, PrefixCountsBytesTheTextKeepsZerosAndATerminatorFollows) {
    struct Case {
        BSTR text;
        host::wstring units;
    };
    const Case cases[] = {
        {SysAllocString(kAbc), host::wstring(kAbc, 3)},
        {SysAllocStringLen(kWithZero, 4), host::wstring(kWithZero, 4)},
        {SysAllocString(kWithZero), host::wstring(kWithZero, 1)},  // stops at the first zero
        {SysAllocStringLen(kAbc, 2), host::wstring(kAbc, 2)},      // terminated after 2 units
        {SysAllocStringLen(nullptr, 5), host::wstring(5, 0)},      // zeros
        {SysAllocStringLen(kAbc, 0), host::wstring()},
        {SysAllocString(kAbc + 3), host::wstring()},  // empty, yet a real string
    };
    for (const Case& c : cases) {
        Owned owned(c.text);
        ASSERT_NE(c.text, nullptr);
        EXPECT_EQ(Units(c.text), c.units);
        EXPECT_EQ(Prefix(c.text), 2 * c.units.size());
        EXPECT_EQ(SysStringByteLen(c.text), 2 * c.units.size());
        EXPECT_EQ(c.text[c.units.size()], 0);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.text) % 8, 0u) << "text is 8-byte aligned";
    }
}

TEST(BstrLayout, OddByteCountsAreKeptAndAWholeZeroUnitFollows) {
    Owned text(SysAllocStringByteLen("abc", 3));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringByteLen(text.get()), 3u);
    EXPECT_EQ(SysStringLen(text.get()), 1u) << "units round down";
    EXPECT_EQ(std::memcmp(text.get(), "abc\0\0", 5), 0);
    EXPECT_EQ(text.get()[2], 0) << "the first whole unit after the bytes is zero";
    Owned zeros(SysAllocStringByteLen(nullptr, 3));
    EXPECT_EQ(SysStringByteLen(zeros.get()), 3u);
    EXPECT_EQ(std::memcmp(zeros.get(), "\0\0\0", 3), 0);
}

TEST(BstrNull, NullIsAnEmptyStringAndOverlongLengthsGiveNull) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(kAbc, 0xFFFFFFFFu), nullptr);  // a negative int as a length
    BSTR text = SysAllocString(kAbc);
    EXPECT_EQ(SysReAllocStringLen(&text, nullptr, 0x80000000u), FALSE);
    EXPECT_EQ(Units(text), host::wstring(kAbc, 3)) << "a refused reallocation leaves it alone";
    SysFreeString(text);
}

TEST(BstrRealloc, ReplacesTheStringAndAcceptsTextFromTheOldOne) {
    BSTR text = SysAllocString(kAbc);
    const WCHAR longer[] = {'h', 'e', 'l', 'l', 'o', 0};
    ASSERT_EQ(SysReAllocString(&text, longer), TRUE);
    EXPECT_EQ(Units(text), host::wstring(longer, 5));
    ASSERT_EQ(SysReAllocString(&text, text + 2), TRUE);  // a tail of the old string
    EXPECT_EQ(Units(text), host::wstring(longer + 2, 3));
    ASSERT_EQ(SysReAllocStringLen(&text, text + 1, 2), TRUE);
    EXPECT_EQ(Units(text), host::wstring(longer + 3, 2));
    // A null text keeps the old contents and zero-fills growth.
    ASSERT_EQ(SysReAllocStringLen(&text, nullptr, 4), TRUE);
    EXPECT_EQ(Units(text), (host::wstring{'l', 'o', 0, 0}));
    ASSERT_EQ(SysReAllocStringLen(&text, nullptr, 1), TRUE);
    EXPECT_EQ(Units(text), host::wstring(longer + 3, 1));
    EXPECT_EQ(text[1], 0);
    ASSERT_EQ(SysReAllocString(&text, nullptr), TRUE);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(SysReAllocStringLen(&text, nullptr, 2), TRUE) << "a null old string is empty";
    EXPECT_EQ(Units(text), host::wstring(2, 0));
    SysFreeString(text);
    EXPECT_EQ(SysReAllocString(nullptr, kAbc), FALSE);
    EXPECT_EQ(SysReAllocStringLen(nullptr, kAbc, 3), FALSE);
}

// A buffer laid out like a BSTR that was never allocated here.
void FreeForeignBuffer() {
    alignas(8) WCHAR fake[8] = {0, 0, 0, 0, 'x', 0, 0, 0};
    SysFreeString(fake + 4);
}

TEST(BstrFreeDeathTest, FreeingSomethingElseStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(FreeForeignBuffer(), "not a live BSTR");
}

}  // namespace
