// GUID equality and its order as a map key.
#include <host/com.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr GUID kBase = {
    0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};

// kBase and the 16 GUIDs that differ from it in one byte of their image.
std::vector<GUID> Neighbours() {
    std::vector<GUID> all{kBase};
    for (int i = 0; i < 16; ++i) {
        unsigned char bytes[16];
        std::memcpy(bytes, &kBase, 16);
        bytes[i] ^= 0x01;
        GUID changed;
        std::memcpy(&changed, bytes, 16);
        all.push_back(changed);
    }
    return all;
}

TEST(GuidCompare, EqualOnlyWhenAllSixteenBytesMatchAndOrderedStrictly) {
    const std::vector<GUID> all = Neighbours();
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = 0; j < all.size(); ++j) {
            const bool same = i == j;
            EXPECT_EQ(IsEqualGUID(all[i], all[j]), same) << i << " " << j;
            EXPECT_EQ(IsEqualIID(all[i], all[j]), same);
            EXPECT_EQ(IsEqualCLSID(all[i], all[j]), same);
            EXPECT_EQ(all[i] == all[j], same);
            EXPECT_EQ(all[i] != all[j], !same);
            if (same)
                EXPECT_FALSE(all[i] < all[j]);
            else
                EXPECT_NE(all[i] < all[j], all[j] < all[i]) << "exactly one order";
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
    static_assert(IsEqualGUID(IID_IUnknown, IID_IUnknown), "usable in constant expressions");
}

}  // namespace
