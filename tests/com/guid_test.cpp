// GUID equality, ordering as a map key, and the well-known identifiers.
#include <host/com.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr GUID kBase = {
    0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};

// kBase with one byte of its 16-byte image changed.
GUID WithByteChanged(int index) {
    GUID changed = kBase;
    unsigned char bytes[16];
    std::memcpy(bytes, &changed, 16);
    bytes[index] ^= 0x01;
    std::memcpy(&changed, bytes, 16);
    return changed;
}

TEST(GuidCompare, EqualOnlyWhenAllSixteenBytesMatch) {
    GUID copy = kBase;
    EXPECT_TRUE(IsEqualGUID(kBase, copy));
    EXPECT_TRUE(kBase == copy);
    EXPECT_FALSE(kBase != copy);
    for (int i = 0; i < 16; ++i) {
        GUID changed = WithByteChanged(i);
        EXPECT_FALSE(IsEqualGUID(kBase, changed)) << "byte " << i;
        EXPECT_FALSE(IsEqualIID(kBase, changed)) << "byte " << i;
        EXPECT_FALSE(IsEqualCLSID(kBase, changed)) << "byte " << i;
        EXPECT_TRUE(kBase != changed) << "byte " << i;
    }
}

TEST(GuidCompare, OrderIsStrictAndTotal) {
    std::vector<GUID> all{kBase};
    for (int i = 0; i < 16; ++i)
        all.push_back(WithByteChanged(i));
    for (const GUID& a : all) {
        EXPECT_FALSE(a < a);
        for (const GUID& b : all) {
            if (a == b)
                continue;
            EXPECT_NE(a < b, b < a) << "exactly one order for distinct GUIDs";
        }
    }
    // Data1 decides before the later fields, compared as a number.
    GUID small = {0x00000001, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    GUID large = {0x00000100, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_TRUE(small < large);
    EXPECT_FALSE(large < small);
    std::set<GUID> keys(all.begin(), all.end());
    keys.insert(GUID(kBase));
    EXPECT_EQ(keys.size(), all.size()) << "equal GUIDs are one key, distinct ones are not";
}

TEST(GuidConstants, WellKnownIdentifiersHaveTheirValues) {
    EXPECT_EQ(IID_IUnknown.Data1, 0x00000000u);
    EXPECT_EQ(IID_IClassFactory.Data1, 0x00000001u);
    const unsigned char tail[8] = {0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    for (const GUID* id : {&IID_IUnknown, &IID_IClassFactory}) {
        EXPECT_EQ(id->Data2, 0u);
        EXPECT_EQ(id->Data3, 0u);
        EXPECT_EQ(std::memcmp(id->Data4, tail, 8), 0);
    }
    const unsigned char zeros[16] = {};
    EXPECT_EQ(std::memcmp(&GUID_NULL, zeros, 16), 0);
    EXPECT_TRUE(IID_NULL == GUID_NULL);
    EXPECT_TRUE(CLSID_NULL == GUID_NULL);
    static_assert(IsEqualGUID(IID_IUnknown, IID_IUnknown), "usable in constant expressions");
    static_assert(IID_IUnknown != IID_IClassFactory, "distinct");
}

}  // namespace
