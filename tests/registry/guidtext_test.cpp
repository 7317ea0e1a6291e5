// GUID text: the braced form written and parsed strictly.
#include <host/guidtext.h>
#include <host/taskalloc.h>

#include "support.h"

#include <cstring>
#include <random>

namespace regtest {
namespace {

constexpr GUID kSample = {
    0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};

bool same(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(GuidText, FormatIsBracedUpperCaseAndAShortBufferGetsNothing) {
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_EQ(host::wstring(text), w("{00112233-4455-6677-8899-AABBCCDDEEFF}"));
    for (auto convert : {&StringFromCLSID, &StringFromIID}) {
        LPOLESTR allocated = nullptr;
        ASSERT_EQ(convert(kSample, &allocated), S_OK);
        EXPECT_EQ(host::wstring(allocated), host::wstring(text));
        CoTaskMemFree(allocated);
        EXPECT_EQ(convert(kSample, nullptr), E_INVALIDARG);
    }
    text[0] = '#';
    EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);
    EXPECT_EQ(StringFromGUID2(kSample, text, -1), 0);
}

TEST(GuidText, RandomGuidsRoundTripThroughBothParsersInEitherCase) {
    std::mt19937 random(12345);
    for (int i = 0; i < 200; ++i) {
        GUID guid;
        auto* bytes = reinterpret_cast<unsigned char*>(&guid);
        for (std::size_t b = 0; b < sizeof guid; ++b)
            bytes[b] = static_cast<unsigned char>(random());
        WCHAR text[39];
        ASSERT_EQ(StringFromGUID2(guid, text, 39), 39);
        GUID parsed = {};
        ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK);
        EXPECT_TRUE(same(parsed, guid));
        for (WCHAR& unit : text)
            unit = unit >= 'A' && unit <= 'F' ? static_cast<WCHAR>(unit + 32) : unit;
        parsed = {};
        ASSERT_EQ(IIDFromString(text, &parsed), S_OK);
        EXPECT_TRUE(same(parsed, guid));
    }
}

TEST(GuidText, MalformedOrNullTextIsRefusedAndLeavesTheOutputAlone) {
    std::vector<host::wstring> bad;
    for (const char* text : {
             "",
             "{00112233",                                // stops early
             "{00112233-4455-6677-8899-AABBCCDDEEF}",    // one digit short
             "{00112233-4455-6677-8899-AABBCCDDEEFF0}",  // one digit long
             "{00112233-4455-6677-8899-AABBCCDDEEFF} ",  // trailing junk
             " {00112233-4455-6677-8899-AABBCCDDEEFF}",
             "00112233-4455-6677-8899-AABBCCDDEEFF",    // no braces
             "{0011223G-4455-6677-8899-AABBCCDDEEFF}",  // not hex
             "{001122334-455-6677-8899-AABBCCDDEEFF}",  // hyphen moved
             "{+0112233-4455-6677-8899-AABBCCDDEEFF}",
         }) {
        bad.push_back(w(text));
    }
    // Wide units whose low byte, or whose meaning, is a digit.
    for (WCHAR unit : {WCHAR(0xFF10), WCHAR(0x0130)}) {
        bad.push_back(w("{00112233-4455-6677-8899-AABBCCDDEEFF}"));
        bad.back()[1] = unit;
    }
    const GUID untouched = {0xFEEDFACE, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    for (const host::wstring& text : bad) {
        GUID out = untouched;
        EXPECT_EQ(CLSIDFromString(text.c_str(), &out), CO_E_CLASSSTRING) << narrow(text);
        EXPECT_EQ(IIDFromString(text.c_str(), &out), E_INVALIDARG) << narrow(text);
        EXPECT_TRUE(same(out, untouched)) << narrow(text);
    }
    GUID out;
    EXPECT_EQ(IIDFromString(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(nullptr, &out), E_INVALIDARG);
    WCHAR text[39];
    StringFromGUID2(kSample, text, 39);
    EXPECT_EQ(IIDFromString(text, nullptr), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(text, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace regtest
