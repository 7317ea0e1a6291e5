// CKesBstr: null and empty text, embedded zeros, lengths and ownership.
#include <kes/types/kesbstr.h>

#include <gtest/gtest.h>

namespace {

host::wstring Units(BSTR theText) {
    return host::wstring(theText, SysStringLen(theText));
}

const WCHAR kWithZero[] = {'a', 'b', 0, 'c', 0};

TEST(KesBstr, NullPointerEmptyStringAndDefaultAllHoldNoString) {
    CKesBstr byDefault;
    CKesBstr fromNull(static_cast<const unsigned short*>(nullptr));
    CKesBstr fromEmpty{host::wstring()};
    for (const CKesBstr* wrapper : {&byDefault, &fromNull, &fromEmpty}) {
        EXPECT_EQ(wrapper->GetBSTR(), nullptr);
        EXPECT_EQ(wrapper->ToString(), host::wstring());
        BSTR copy = wrapper->ToBSTR();
        ASSERT_NE(copy, nullptr);  // a new empty string, not null
        EXPECT_EQ(SysStringLen(copy), 0u);
        EXPECT_EQ(copy[0], 0);
        SysFreeString(copy);
    }
    // An empty terminated text is an empty string, not null; it reads the same.
    CKesBstr fromEmptyText(OLESTR(""));
    EXPECT_NE(fromEmptyText.GetBSTR(), nullptr);
    EXPECT_EQ(fromEmptyText.ToString(), host::wstring());
}

TEST(KesBstr, EmbeddedZeroSurvivesToBSTRButCutsToString) {
    CKesBstr wrapper(4, kWithZero);
    EXPECT_EQ(SysStringLen(wrapper.GetBSTR()), 4u);
    EXPECT_EQ(wrapper.ToString(), host::wstring(OLESTR("ab")));
    BSTR copy = wrapper.ToBSTR();
    EXPECT_NE(copy, wrapper.GetBSTR());
    EXPECT_EQ(Units(copy), host::wstring(kWithZero, 4));
    SysFreeString(copy);
    // The wide-string and terminated-text constructors stop at the zero.
    CKesBstr fromString(host::wstring(kWithZero, 4));
    EXPECT_EQ(SysStringLen(fromString.GetBSTR()), 2u);
    CKesBstr fromText(kWithZero);
    EXPECT_EQ(SysStringLen(fromText.GetBSTR()), 2u);
}

TEST(KesBstr, LengthConstructorsAllocateExactlyThatManyUnits) {
    CKesBstr zeros(3);
    ASSERT_NE(zeros.GetBSTR(), nullptr);
    EXPECT_EQ(Units(zeros.GetBSTR()), host::wstring(3, 0));
    CKesBstr none(0);
    ASSERT_NE(none.GetBSTR(), nullptr);
    EXPECT_EQ(SysStringLen(none.GetBSTR()), 0u);
    CKesBstr prefix(2, OLESTR("xyz"));
    EXPECT_EQ(Units(prefix.GetBSTR()), host::wstring(OLESTR("xy")));
    CKesBstr zerosFromNull(2, nullptr);
    EXPECT_EQ(Units(zerosFromNull.GetBSTR()), host::wstring(2, 0));
    // A negative length is refused rather than turned into a huge request.
    CKesBstr negative(-1);
    EXPECT_EQ(negative.GetBSTR(), nullptr);
    CKesBstr negativeText(-5, OLESTR("abc"));
    EXPECT_EQ(negativeText.GetBSTR(), nullptr);
}

TEST(KesBstr, ToBSTROutlivesTheWrapper) {
    BSTR kept = nullptr;
    {
        CKesBstr wrapper(host::wstring(OLESTR("10.0.0.1")));
        kept = wrapper.ToBSTR();
    }
    EXPECT_EQ(Units(kept), host::wstring(OLESTR("10.0.0.1")));
    SysFreeString(kept);
}

}  // namespace
