// Values: sizes, types and bytes, names, access rights, enumeration.
#include "support.h"

#include <cstring>

namespace regtest {
namespace {

using RegistryValues = FreshStore;

std::vector<BYTE> bytes_of(const void* data, std::size_t size) {
    const auto* begin = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(begin, begin + size);
}

// ---- Sizes -----------------------------------------------------------------------------

TEST_F(RegistryValues, SizeQueryShortBufferAndExactBuffer) {
    HKEY key = create("SOFTWARE\\Sizes");
    ASSERT_EQ(set_sz(key, w("s"), w("ab")), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, w("s").c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_SZ);

    BYTE small[2] = {0xEE, 0xEE};
    size = sizeof small;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, w("s").c_str(), nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_SZ);

    BYTE exact[6];
    size = sizeof exact;
    EXPECT_EQ(RegQueryValueExW(key, w("s").c_str(), nullptr, nullptr, exact, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(bytes_of(exact, 6), sz_bytes(w("ab")));
}

TEST_F(RegistryValues, MissingValueChangesNoOutput) {
    HKEY key = create("SOFTWARE\\Missing");
    DWORD type = 77;
    DWORD size = 5;
    BYTE buffer[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(RegQueryValueExW(key, w("nope").c_str(), nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 77u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(RegDeleteValueW(key, w("nope").c_str()), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, ArgumentMisuseIsRefused) {
    HKEY key = create("SOFTWARE\\Misuse");
    BYTE buffer[4];
    DWORD reserved = 0;
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExW(key, nullptr, &reserved, nullptr, buffer, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, nullptr, 1, REG_BINARY, buffer, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, buffer, (16u << 20) + 1),
              ERROR_INVALID_PARAMETER);
    DWORD count = 9;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 0u);
}

// ---- Types and bytes ---------------------------------------------------------------------

TEST_F(RegistryValues, EveryTypeKeepsItsExactBytes) {
    HKEY key = create("SOFTWARE\\Types");
    const WCHAR multi[] = {'a', 0, 'b', 'c', 0, 0};  // {"a", "bc"}
    const WCHAR expand[] = {'%', 'P', 'A', 'T', 'H', '%', '\\', 'x', 0};
    const WCHAR unterminated[] = {'o', 'k'};
    const QWORD qword = 0x0102030405060708ull;
    const BYTE binary[] = {0, 0xFF, 0, 0x80, 0};
    struct sample {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
    } samples[] = {
        {"multi", REG_MULTI_SZ, bytes_of(multi, sizeof multi)},
        {"expand", REG_EXPAND_SZ, bytes_of(expand, sizeof expand)},
        {"qword", REG_QWORD, bytes_of(&qword, sizeof qword)},
        {"binary", REG_BINARY, bytes_of(binary, sizeof binary)},
        {"none", REG_NONE, {}},
        {"odd", REG_SZ, bytes_of(unterminated, 3)},  // a careless writer's odd size
        {"custom", 0x12345678u, {9}},
    };
    for (const sample& s : samples) {
        ASSERT_EQ(RegSetValueExW(key, w(s.name).c_str(), 0, s.type, s.bytes.data(),
                                 static_cast<DWORD>(s.bytes.size())),
                  ERROR_SUCCESS)
            << s.name;
    }
    EXPECT_EQ(RegSetValueExW(key, w("null").c_str(), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

    for (const sample& s : samples) {
        LSTATUS status;
        DWORD type = 0;
        EXPECT_EQ(get(key, w(s.name), &type, &status), s.bytes) << s.name;
        EXPECT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(type, s.type) << s.name;
    }
    EXPECT_EQ(sizeof multi, 12u);
    // Little-endian on disk whatever the reader does with it.
    LSTATUS status;
    DWORD type;
    EXPECT_EQ(get(key, w("qword"), &type, &status)[0], 0x08);
}

TEST_F(RegistryValues, LargeValuesRoundTrip) {
    HKEY key = create("SOFTWARE\\Large");
    std::vector<BYTE> big(1u << 20);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7);
    ASSERT_EQ(RegSetValueExW(key, w("big").c_str(), 0, REG_BINARY, big.data(),
                             static_cast<DWORD>(big.size())),
              ERROR_SUCCESS);
    LSTATUS status;
    DWORD type;
    EXPECT_EQ(get(key, w("big"), &type, &status), big);
}

TEST_F(RegistryValues, ReplacingAValueMayChangeItsTypeButKeepsItsSpelling) {
    HKEY key = create("SOFTWARE\\Replace");
    ASSERT_EQ(set_sz(key, w("Mixed"), w("text")), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(key, w("MIXED"), 42), ERROR_SUCCESS);
    LSTATUS status;
    DWORD type = 0;
    std::vector<BYTE> bytes = get(key, w("mixed"), &type, &status);
    EXPECT_EQ(type, REG_DWORD);
    ASSERT_EQ(bytes.size(), 4u);
    DWORD value;
    std::memcpy(&value, bytes.data(), 4);
    EXPECT_EQ(value, 42u);

    WCHAR name[16];
    DWORD units = 16;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(narrow(host::wstring(name, units)), "Mixed");
    units = 16;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryValues, NullAndEmptyNamesBothMeanTheDefaultValue) {
    HKEY key = create("SOFTWARE\\Default");
    ASSERT_EQ(set_dword(key, w(""), 5), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, w("").c_str(), nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, ValueNamesMayHoldBackslashesAndReachTheirLimit) {
    HKEY key = create("SOFTWARE\\ValueNames");
    EXPECT_EQ(set_dword(key, w("a\\b"), 1), ERROR_SUCCESS);
    std::string longest(16383, 'v');
    EXPECT_EQ(set_dword(key, w(longest), 2), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(key, w(longest + "v"), 3), ERROR_INVALID_PARAMETER);
    host::wstring loneSurrogate = {0xDC00};
    EXPECT_EQ(set_dword(key, loneSurrogate, 4), ERROR_INVALID_PARAMETER);

    DWORD values = 0;
    DWORD longestName = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               &longestName, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(longestName, 16383u);
}

// ---- Access rights --------------------------------------------------------------------------

TEST_F(RegistryValues, ReadOnlyHandlesRefuseValueWritesButMayCreateSubkeys) {
    HKEY writer = create("SOFTWARE\\ReadOnly");
    ASSERT_EQ(set_dword(writer, w("v"), 1), ERROR_SUCCESS);
    HKEY reader = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ReadOnly", KEY_READ);
    ASSERT_NE(reader, nullptr);

    EXPECT_EQ(set_dword(reader, w("v"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(set_dword(reader, w("new"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, w("v").c_str()), ERROR_ACCESS_DENIED);
    LSTATUS status;
    DWORD type;
    std::vector<BYTE> bytes = get(reader, w("v"), &type, &status);
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(bytes[0], 1);  // the refused write left the value alone
    get(writer, w("new"), &type, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);

    // Subkeys are governed by security descriptors on Win32, not the mask.
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(reader, w("child").c_str(), 0, nullptr, 0, KEY_READ, nullptr, &child,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(child);
    EXPECT_EQ(RegDeleteKeyW(reader, w("child").c_str()), ERROR_SUCCESS);

    HKEY writeOnly = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ReadOnly", KEY_WRITE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writeOnly, w("v").c_str(), nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    WCHAR name[8];
    DWORD units = 8;
    EXPECT_EQ(RegEnumKeyExW(writeOnly, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(set_dword(writeOnly, w("v"), 3), ERROR_SUCCESS);

    // A read handle can give rise to a full one: rights belong to handles.
    HKEY upgraded = open(reader, "", KEY_ALL_ACCESS);
    EXPECT_EQ(set_dword(upgraded, w("v"), 4), ERROR_SUCCESS);
}

// ---- Enumeration ------------------------------------------------------------------------------

TEST_F(RegistryValues, EnumerationIsOrderedAndSizedLikeQueries) {
    HKEY key = create("SOFTWARE\\EnumValues");
    ASSERT_EQ(set_sz(key, w("beta"), w("bbbb")), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(key, w("Alpha"), 1), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(key, w(""), 0), ERROR_SUCCESS);

    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[16];
        DWORD units = 16;
        LSTATUS status =
            RegEnumValueW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        names.push_back(narrow(host::wstring(name, units)));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "Alpha", "beta"}));

    WCHAR name[16];
    DWORD units = 4;  // "beta" needs 5 with its terminator
    EXPECT_EQ(RegEnumValueW(key, 2, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    BYTE data[4];
    DWORD size = sizeof data;
    DWORD type = 0;
    units = 16;
    EXPECT_EQ(RegEnumValueW(key, 2, name, &units, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(narrow(host::wstring(name, units)), "beta");

    DWORD subkeys = 9, values = 0, longestName = 0, largest = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                               &longestName, &largest, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(longestName, 5u);
    EXPECT_EQ(largest, 10u);
}

}  // namespace
}  // namespace regtest
