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

TEST(GuidText, FormatIsBracedUpperCaseWithDataFieldsAsNumbers) {
    WCHAR text[39];
    ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
    EXPECT_EQ(host::wstring(text), w("{00112233-4455-6677-8899-AABBCCDDEEFF}"));

    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(kSample, &allocated), S_OK);
    EXPECT_EQ(host::wstring(allocated), w("{00112233-4455-6677-8899-AABBCCDDEEFF}"));
    CoTaskMemFree(allocated);
    ASSERT_EQ(StringFromIID(kSample, &allocated), S_OK);
    EXPECT_EQ(host::wstring(allocated).size(), 38u);
    CoTaskMemFree(allocated);
    EXPECT_EQ(StringFromIID(kSample, nullptr), E_INVALIDARG);
}

TEST(GuidText, ShortBufferGetsNothing) {
    WCHAR text[39];
    std::fill(std::begin(text), std::end(text), WCHAR('#'));
    EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);
    EXPECT_EQ(StringFromGUID2(kSample, text, -1), 0);
}

TEST(GuidText, RandomGuidsRoundTripThroughBothParsers) {
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
        parsed = {};
        ASSERT_EQ(IIDFromString(text, &parsed), S_OK);
        EXPECT_TRUE(same(parsed, guid));
    }
}

TEST(GuidText, LowerCaseInputIsAccepted) {
    GUID parsed = {};
    ASSERT_EQ(IIDFromString(w("{00112233-4455-6677-8899-aabbccddeeff}").c_str(), &parsed), S_OK);
    EXPECT_TRUE(same(parsed, kSample));
}

TEST(GuidText, MalformedTextIsRefusedAndLeavesTheOutputAlone) {
    const char* bad[] = {
        "",
        "{",
        "{00112233",                                // stops early
        "{00112233-4455-6677-8899-AABBCCDDEEF}",    // one digit short
        "{00112233-4455-6677-8899-AABBCCDDEEFF0}",  // one digit long
        "{00112233-4455-6677-8899-AABBCCDDEEFF}x",  // trailing junk
        "{00112233-4455-6677-8899-AABBCCDDEEFF} ",
        " {00112233-4455-6677-8899-AABBCCDDEEFF}",
        "00112233-4455-6677-8899-AABBCCDDEEFF",  // no braces
        "(00112233-4455-6677-8899-AABBCCDDEEFF)",
        "{00112233-4455-6677-8899-AABBCCDDEEFF",
        "{0011223G-4455-6677-8899-AABBCCDDEEFF}",  // not hex
        "{00112233-4455-6677-8899-AABBCCDDEE-F}",
        "{001122334-455-6677-8899-AABBCCDDEEFF}",  // hyphen moved
        "{00112233-4455-6677-889-9AABBCCDDEEFF}",
        "{0x112233-4455-6677-8899-AABBCCDDEEFF}",
        "{+0112233-4455-6677-8899-AABBCCDDEEFF}",
    };
    const GUID untouched = {0xFEEDFACE, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    for (const char* text : bad) {
        GUID out = untouched;
        EXPECT_EQ(CLSIDFromString(w(text).c_str(), &out), CO_E_CLASSSTRING) << text;
        EXPECT_TRUE(same(out, untouched)) << text;
        EXPECT_EQ(IIDFromString(w(text).c_str(), &out), E_INVALIDARG) << text;
        EXPECT_TRUE(same(out, untouched)) << text;
    }
    // A digit outside ASCII that a lax parser might take for one.
    host::wstring fullWidth = w("{00112233-4455-6677-8899-AABBCCDDEEFF}");
    fullWidth[1] = 0xFF10;
    GUID out = untouched;
    EXPECT_EQ(IIDFromString(fullWidth.c_str(), &out), E_INVALIDARG);
    // The low byte of a wide unit must not pass for an ASCII digit.
    host::wstring wide = w("{00112233-4455-6677-8899-AABBCCDDEEFF}");
    wide[1] = 0x0130;  // low byte '0'
    EXPECT_EQ(IIDFromString(wide.c_str(), &out), E_INVALIDARG);
}

TEST(GuidText, NullArgumentsAreErrors) {
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
