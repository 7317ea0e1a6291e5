// Automation strings: the length prefix, termination, embedded zeros, byte
// lengths, null handling, reallocation and overlong requests.
#include <host/oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Frees a BSTR at the end of the scope.
class Owned {
  public:
    explicit Owned(BSTR text) : m_Text(text) {}
    ~Owned() { SysFreeString(m_Text); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    BSTR get() const { return m_Text; }
    BSTR* address() { return &m_Text; }

  private:
    BSTR m_Text;
};

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

TEST(BstrLayout, PrefixHoldsTheByteCountAndATerminatorFollows) {
    Owned text(SysAllocString(kAbc));
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(Prefix(text.get()), 6u);
    EXPECT_EQ(SysStringLen(text.get()), 3u);
    EXPECT_EQ(SysStringByteLen(text.get()), 6u);
    EXPECT_EQ(text.get()[3], 0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(text.get()) % 8, 0u) << "text is 8-byte aligned";
}

TEST(BstrLayout, EmbeddedZerosAreKeptByLength) {
    Owned text(SysAllocStringLen(kWithZero, 4));
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(SysStringLen(text.get()), 4u);
    EXPECT_EQ(Prefix(text.get()), 8u);
    EXPECT_EQ(Units(text.get()), host::wstring(kWithZero, 4));
    EXPECT_EQ(text.get()[4], 0);
    // A terminated-string copy stops at the first zero.
    Owned scanned(SysAllocString(text.get()));
    EXPECT_EQ(SysStringLen(scanned.get()), 1u);
    Owned prefix(SysAllocStringLen(kAbc, 2));
    EXPECT_EQ(Units(prefix.get()), host::wstring(kAbc, 2));
    EXPECT_EQ(prefix.get()[2], 0) << "terminated after the copied units, not at the source's end";
}

TEST(BstrLayout, NullSourceGivesZeroedTextOfTheLength) {
    Owned text(SysAllocStringLen(nullptr, 5));
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(SysStringLen(text.get()), 5u);
    EXPECT_EQ(Units(text.get()), host::wstring(5, 0));
    EXPECT_EQ(text.get()[5], 0);
    Owned bytes(SysAllocStringByteLen(nullptr, 3));
    EXPECT_EQ(SysStringByteLen(bytes.get()), 3u);
    EXPECT_EQ(std::memcmp(bytes.get(), "\0\0\0", 3), 0);
}

TEST(BstrByteLength, OddByteCountsAreKeptAndAWholeZeroUnitFollows) {
    Owned text(SysAllocStringByteLen("abc", 3));
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(SysStringByteLen(text.get()), 3u);
    EXPECT_EQ(SysStringLen(text.get()), 1u) << "units round down";
    const char* bytes = reinterpret_cast<const char*>(text.get());
    EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(bytes[4], 0);
    EXPECT_EQ(text.get()[2], 0) << "the first whole unit after the bytes is zero";
    const char data[] = {'x', 0, 'y', 0, 'z', 0};
    Owned verbatim(SysAllocStringByteLen(data, 6));
    EXPECT_EQ(SysStringLen(verbatim.get()), 3u);
    EXPECT_EQ(std::memcmp(verbatim.get(), data, 6), 0);
}

TEST(BstrNull, NullIsAnEmptyStringEverywhere) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    const WCHAR empty[] = {0};
    Owned text(SysAllocString(empty));
    ASSERT_NE(text.get(), nullptr) << "an empty text is a real, empty string";
    EXPECT_EQ(SysStringLen(text.get()), 0u);
    EXPECT_EQ(text.get()[0], 0);
    Owned zero(SysAllocStringLen(kAbc, 0));
    ASSERT_NE(zero.get(), nullptr);
    EXPECT_EQ(SysStringLen(zero.get()), 0u);
}

TEST(BstrLimits, OverlongLengthsGiveNull) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(kAbc, 0xFFFFFFFFu), nullptr);
    // A negative int passed as a length arrives as a huge unsigned one.
    EXPECT_EQ(SysAllocStringLen(nullptr, static_cast<UINT>(-1)), nullptr);
    Owned text(SysAllocString(kAbc));
    BSTR before = text.get();
    EXPECT_EQ(SysReAllocStringLen(text.address(), nullptr, 0x80000000u), FALSE);
    EXPECT_EQ(text.get(), before) << "a refused reallocation leaves the string alone";
    EXPECT_EQ(Units(text.get()), host::wstring(kAbc, 3));
}

TEST(BstrRealloc, ReplacesTheStringAndAcceptsTextFromTheOldOne) {
    Owned text(SysAllocString(kAbc));
    const WCHAR longer[] = {'h', 'e', 'l', 'l', 'o', 0};
    ASSERT_EQ(SysReAllocString(text.address(), longer), TRUE);
    EXPECT_EQ(Units(text.get()), host::wstring(longer, 5));
    // The new text is a tail of the old string itself.
    ASSERT_EQ(SysReAllocString(text.address(), text.get() + 2), TRUE);
    EXPECT_EQ(Units(text.get()), host::wstring(longer + 2, 3));
    ASSERT_EQ(SysReAllocStringLen(text.address(), text.get() + 1, 2), TRUE);
    EXPECT_EQ(Units(text.get()), host::wstring(longer + 3, 2));
    ASSERT_EQ(SysReAllocString(text.address(), nullptr), TRUE);
    EXPECT_EQ(text.get(), nullptr);
    EXPECT_EQ(SysReAllocString(nullptr, kAbc), FALSE);
    EXPECT_EQ(SysReAllocStringLen(nullptr, kAbc, 3), FALSE);
}

TEST(BstrRealloc, NullTextKeepsTheOldContentsAndZeroFillsGrowth) {
    Owned text(SysAllocString(kAbc));
    ASSERT_EQ(SysReAllocStringLen(text.address(), nullptr, 5), TRUE);
    EXPECT_EQ(Units(text.get()), (host::wstring{'a', 'b', 'c', 0, 0}));
    ASSERT_EQ(SysReAllocStringLen(text.address(), nullptr, 2), TRUE);
    EXPECT_EQ(Units(text.get()), host::wstring(kAbc, 2));
    EXPECT_EQ(text.get()[2], 0);
    BSTR fresh = nullptr;
    ASSERT_EQ(SysReAllocStringLen(&fresh, nullptr, 2), TRUE) << "a null old string is empty";
    EXPECT_EQ(Units(fresh), host::wstring(2, 0));
    SysFreeString(fresh);
}

// A buffer laid out like a BSTR's header and text that was never allocated
// here.
void FreeForeignBuffer() {
    alignas(8) WCHAR fake[8] = {0, 0, 0, 0, 'x', 0, 0, 0};
    SysFreeString(fake + 4);
}

TEST(BstrFreeDeathTest, FreeingSomethingElseStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(FreeForeignBuffer(), "not a live BSTR");
}

}  // namespace
