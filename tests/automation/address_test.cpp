// IP and MAC addresses: the parsing tolerance, the formats, the static
// automation-string operations and their raised codes.
#include <host/oleauto.h>
#include <kes/application/kesipaddress.h>
#include <kes/application/kesmacaddress.h>
#include <kes/error/kescodes.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

host::wstring Wide(const std::string& theText) {
    return host::wstring(theText.begin(), theText.end());
}

std::string Narrow(const host::wstring& theText) {
    return std::string(theText.begin(), theText.end());
}

std::string Take(BSTR theText) {
    std::string text = Narrow(host::wstring(theText, SysStringLen(theText)));
    SysFreeString(theText);
    return text;
}

struct IpCase {
    const char* text;
    int result;
    ULONG value;
};

TEST(KesIpAddress, ParsesWithTheToleranceOfItsFormat) {
    const IpCase cases[] = {
        {"192.0.2.1", 0, 0xC0000201u},
        {"0.0.0.0", 0, 0},
        {"255.255.255.255", 0, 0xFFFFFFFFu},
        {"001.002.003.004", 0, 0x01020304u},
        {"1.2.3.4 and more", 0, 0x01020304u},
        {"1.2.3.4.5", 0, 0x01020304u},
        {"1.2.3.4x", 0, 0x01020304u},
        {"   1.2.3.4", 0, 0x01020304u},
        {"\t1.\n2. 3.\r4", 0, 0x01020304u},  // white space before each number
        {"+1.+2.+3.+4", 0, 0x01020304u},
        {"-0.0.0.1", 0, 1},
        {"0000000000000000000010.0.0.1", 0, 0x0A000001u},
        {"10.0.0.256", -1, 0},
        {"256.0.0.1", -1, 0},
        {"1.2.3", -1, 0},
        {"1.2.3.", -1, 0},
        {"", -1, 0},
        {"-1.2.3.4", -1, 0},
        {"1.2.3.-1", -1, 0},
        {"1 .2.3.4", -1, 0},  // no white space before a dot
        {"1..2.3.4", -1, 0},
        {"1,2,3,4", -1, 0},
        {"a.b.c.d", -1, 0},
        {"0x1.2.3.4", -1, 0},  // "x" where the dot belongs
        {"+-1.2.3.4", -1, 0},
        {"4294967296.0.0.1", -1, 0},   // wider than 32 bits
        {"4294967297.1.1.1", -1, 0},   // would wrap to 1
        {"-4294967295.1.1.1", -1, 0},  // would wrap to 1 as well
        {"18446744073709551617.1.1.1", -1, 0},
    };
    for (const IpCase& c : cases) {
        CKesIpAddress address(0xDEADBEEFu);
        EXPECT_EQ(address.SetIpAddress(Wide(c.text)), c.result) << c.text;
        EXPECT_EQ(address.GetAddress(), c.value) << c.text;
    }
}

TEST(KesIpAddress, TextEndsAtTheFirstZeroUnit) {
    host::wstring text = Wide("1.2.3.4");
    text.insert(3, 1, 0);  // "1.2" NUL ".3.4"
    CKesIpAddress address;
    EXPECT_EQ(address.SetIpAddress(text), -1);
    const WCHAR unicodeDigits[] = {0xFF11, '.', '2', '.', '3', '.', '4', 0};  // full-width 1
    EXPECT_EQ(address.SetIpAddress(unicodeDigits), -1);
}

TEST(KesIpAddress, FormatsEachByteWithoutLeadingZeros) {
    EXPECT_EQ(Narrow(CKesIpAddress(0xC0000201u).GetIpAddressString()), "192.0.2.1");
    EXPECT_EQ(Narrow(CKesIpAddress(0).GetIpAddressString()), "0.0.0.0");
    EXPECT_EQ(Narrow(CKesIpAddress(0xFFFFFFFFu).GetIpAddressString()), "255.255.255.255");
    CKesIpAddress padded;
    ASSERT_EQ(padded.SetIpAddress(Wide("001.002.003.004")), 0);
    EXPECT_EQ(Narrow(padded.GetIpAddressString()), "1.2.3.4");
    EXPECT_EQ(Take(CKesIpAddress::FormatIpAddress(0)), "0.0.0.0");
    EXPECT_EQ(Take(CKesIpAddress::FormatIpAddress(0x0A000001u)), "10.0.0.1");
}

TEST(KesIpAddress, StaticParseStoresTheValueOrZeroAndRaises) {
    ULONG value = 77;
    BSTR text = SysAllocString(OLESTR("192.0.2.1"));
    EXPECT_EQ(CKesIpAddress::ParseIpAddress(text, &value), 0);
    EXPECT_EQ(value, 0xC0000201u);
    SysFreeString(text);
    value = 77;
    EXPECT_EQ(CKesIpAddress::ParseIpAddress(OLESTR("1.2.3"), &value), KES_E_INVALID_IP_ADDRESS);
    EXPECT_EQ(value, 0u);
    value = 77;
    EXPECT_EQ(CKesIpAddress::ParseIpAddress(nullptr, &value), KES_E_INVALID_IP_ADDRESS);
    EXPECT_EQ(value, 0u);
    // A null out pointer is reported, then the code is returned with nothing
    // written.
    EXPECT_EQ(CKesIpAddress::ParseIpAddress(OLESTR("1.2.3.4"), nullptr), 0);
    EXPECT_EQ(CKesIpAddress::ParseIpAddress(OLESTR("bad"), nullptr), KES_E_INVALID_IP_ADDRESS);
}

struct MacCase {
    const char* text;
    int result;
    std::uint64_t value;
};

TEST(KesMacAddress, ParsesHexadecimalBytesOfEitherCase) {
    const MacCase cases[] = {
        {"0:1b:2C:d:e:f", 0, 0x001B2C0D0E0Full},
        {"00:1B:2C:0D:0E:0F", 0, 0x001B2C0D0E0Full},
        {"ff:FF:fF:Ff:ff:ff", 0, 0xFFFFFFFFFFFFull},
        {"  1:2:3:4:5:6 tail", 0, 0x010203040506ull},
        {"1: 2:\t3:4:5:6", 0, 0x010203040506ull},
        {"0x1:0X2:3:4:5:+6", 0, 0x010203040506ull},
        {"000000000000ff:0:0:0:0:1", 0, 0xFF0000000001ull},
        {"1:2:3:4:5:6:7", 0, 0x010203040506ull},
        {"1:2:3:4:5:0x", 0, 0x010203040500ull},  // "0" read, "x" left over
        {"100:0:0:0:0:0", -1, 0},
        {"1:2:3:4:5", -1, 0},
        {"1-2-3-4-5-6", -1, 0},
        {"1 :2:3:4:5:6", -1, 0},
        {"g:0:0:0:0:0", -1, 0},
        {"-1:0:0:0:0:0", -1, 0},
        {"100000001:0:0:0:0:0", -1, 0},  // 33 bits
        {"0x:1:2:3:4:5", -1, 0},
        {"", -1, 0},
    };
    for (const MacCase& c : cases) {
        CKesMacAddress address(0xDEADBEEFull);
        EXPECT_EQ(address.SetMacAddress(Wide(c.text)), c.result) << c.text;
        EXPECT_EQ(address.GetAddress(), c.value) << c.text;
    }
}

TEST(KesMacAddress, FormatsTheLowSixBytesInUpperCase) {
    EXPECT_EQ(Narrow(CKesMacAddress(0x001B2C0D0E0Full).GetMacAddressString()), "00:1B:2C:0D:0E:0F");
    EXPECT_EQ(Narrow(CKesMacAddress(0xABCD001B2C0D0E0Full).GetMacAddressString()),
              "00:1B:2C:0D:0E:0F");
    EXPECT_EQ(Narrow(CKesMacAddress(0).GetMacAddressString()), "00:00:00:00:00:00");
    EXPECT_EQ(Take(CKesMacAddress::FormatMacAddress(0xFFFFFFFFFFFFFFFFull)), "FF:FF:FF:FF:FF:FF");
}

TEST(KesMacAddress, StaticParseStoresTheValueOrZeroAndRaises) {
    std::uint64_t value = 77;
    EXPECT_EQ(CKesMacAddress::ParseMacAddress(OLESTR("0:1b:2C:d:e:f"), &value), 0);
    EXPECT_EQ(value, 0x001B2C0D0E0Full);
    value = 77;
    EXPECT_EQ(CKesMacAddress::ParseMacAddress(OLESTR("0:1b:2C:d:e"), &value),
              KES_E_INVALID_MAC_ADDRESS);
    EXPECT_EQ(value, 0u);
    value = 77;
    EXPECT_EQ(CKesMacAddress::ParseMacAddress(nullptr, &value), KES_E_INVALID_MAC_ADDRESS);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(CKesMacAddress::ParseMacAddress(OLESTR("1:2:3:4:5:6"), nullptr), 0);
    EXPECT_EQ(CKesMacAddress::ParseMacAddress(OLESTR("1:2"), nullptr), KES_E_INVALID_MAC_ADDRESS);
}

TEST(KesAddressDeathTest, NullOutPointerAssertsWithTheModuleName) {
    EXPECT_EXIT(
        {
            setenv("DOV_HALT_ASSERTIONS", "1", 1);
            CKesIpAddress::ParseIpAddress(OLESTR("1.2.3.4"), nullptr);
        },
        ::testing::ExitedWithCode(255),
        "kes/application/kesipaddress, line [0-9]+:\r\npAddress != 0");
    EXPECT_EXIT(
        {
            setenv("DOV_HALT_ASSERTIONS", "1", 1);
            CKesMacAddress::ParseMacAddress(OLESTR("1:2:3:4:5:6"), nullptr);
        },
        ::testing::ExitedWithCode(255),
        "kes/application/kesmacaddress, line [0-9]+:\r\npAddress != 0");
}

}  // namespace
