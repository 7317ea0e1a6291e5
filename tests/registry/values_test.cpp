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

TEST_F(RegistryValues, SizeQueryShortBufferExactBufferAndMissingValue) {
    HKEY key = create("SOFTWARE\\Sizes");
    ASSERT_EQ(set(key, w("s"), REG_SZ, sz_bytes(w("ab"))), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, w("s").c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_SZ);
    BYTE buffer[6];
    size = 2;
    EXPECT_EQ(RegQueryValueExW(key, w("s").c_str(), nullptr, &type, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegQueryValueExW(key, w("s").c_str(), nullptr, nullptr, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(bytes_of(buffer, size), sz_bytes(w("ab")));

    // A missing value changes no output.
    type = 77;
    size = 5;
    buffer[0] = 1;
    EXPECT_EQ(RegQueryValueExW(key, w("nope").c_str(), nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 77u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(RegDeleteValueW(key, w("nope").c_str()), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, buffer, (16u << 20) + 1),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(value_count(key), 1u);
}

TEST_F(RegistryValues, EveryTypeKeepsItsExactBytes) {
    HKEY key = create("SOFTWARE\\Types");
    const WCHAR multi[] = {'a', 0, 'b', 'c', 0, 0};  // {"a", "bc"}
    const WCHAR expand[] = {'%', 'P', 'A', 'T', 'H', '%', '\\', 'x', 0};
    const WCHAR unterminated[] = {'o', 'k'};
    const BYTE binary[] = {0, 0xFF, 0, 0x80, 0};
    std::vector<BYTE> big(1u << 20);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7);
    const struct {
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
    } samples[] = {
        {"multi", REG_MULTI_SZ, bytes_of(multi, sizeof multi)},
        {"expand", REG_EXPAND_SZ, bytes_of(expand, sizeof expand)},
        {"qword", REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}},
        {"binary", REG_BINARY, bytes_of(binary, sizeof binary)},
        {"big", REG_BINARY, big},
        {"none", REG_NONE, {}},
        {"odd", REG_SZ, bytes_of(unterminated, 3)},  // a careless writer's odd size
        {"custom", 0x12345678u, {9}},
    };
    for (const auto& s : samples)
        ASSERT_EQ(set(key, w(s.name), s.type, s.bytes), ERROR_SUCCESS) << s.name;
    EXPECT_EQ(RegSetValueExW(key, w("null").c_str(), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    for (const auto& s : samples) {
        DWORD type = 0;
        LSTATUS status;
        EXPECT_EQ(get(key, w(s.name), &type, &status), s.bytes) << s.name;
        EXPECT_EQ(type, s.type) << s.name;
    }
}

TEST_F(RegistryValues, ReplacingAValueMayChangeItsTypeButKeepsItsSpelling) {
    HKEY key = create("SOFTWARE\\Replace");
    ASSERT_EQ(set(key, w("Mixed"), REG_SZ, sz_bytes(w("text"))), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(key, w("MIXED"), 42), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(get(key, w("mixed"), &type), (std::vector<BYTE>{42, 0, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);
    WCHAR name[16];
    DWORD units = 16;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(narrow(host::wstring(name, units)), "Mixed");
    EXPECT_EQ(value_count(key), 1u);

    // Null and "" both name the default value.
    ASSERT_EQ(set_dword(key, w(""), 5), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(status_of(key, w("")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, ValueNamesMayHoldBackslashesAndOverLongOnesStoreNothing) {
    HKEY key = create("SOFTWARE\\ValueNames");
    EXPECT_EQ(set_dword(key, w("a\\b"), 1), ERROR_SUCCESS);
    const std::string longest(16383, 'v');
    EXPECT_EQ(set_dword(key, w(longest), 2), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(key, w(longest + "v"), 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(set_dword(key, host::wstring{0xDC00}, 4), ERROR_INVALID_PARAMETER);
    DWORD longestName = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &longestName, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(value_count(key), 2u);
    EXPECT_EQ(longestName, 16383u);
}

TEST_F(RegistryValues, ReadOnlyHandlesRefuseValueWritesButMayCreateSubkeys) {
    HKEY writer = create("SOFTWARE\\ReadOnly");
    ASSERT_EQ(set_dword(writer, w("v"), 1), ERROR_SUCCESS);
    HKEY reader = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ReadOnly", KEY_READ);
    EXPECT_EQ(set_dword(reader, w("v"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(set_dword(reader, w("new"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, w("v").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(get(reader, w("v")), (std::vector<BYTE>{1, 0, 0, 0}));  // left alone
    EXPECT_EQ(status_of(writer, w("new")), ERROR_FILE_NOT_FOUND);
    // Subkeys are governed by security descriptors on Win32, not the mask.
    create("child", reader);
    EXPECT_EQ(RegDeleteKeyW(reader, w("child").c_str()), ERROR_SUCCESS);

    HKEY writeOnly = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ReadOnly", KEY_WRITE);
    EXPECT_EQ(status_of(writeOnly, w("v")), ERROR_ACCESS_DENIED);
    WCHAR name[8];
    DWORD units = 8;
    EXPECT_EQ(RegEnumKeyExW(writeOnly, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(set_dword(writeOnly, w("v"), 3), ERROR_SUCCESS);
    // Rights belong to handles: a read handle can give rise to a full one.
    EXPECT_EQ(set_dword(open(reader, "", KEY_ALL_ACCESS), w("v"), 4), ERROR_SUCCESS);
}

TEST_F(RegistryValues, EnumerationIsOrderedAndSizedLikeQueries) {
    HKEY key = create("SOFTWARE\\EnumValues");
    ASSERT_EQ(set(key, w("beta"), REG_SZ, sz_bytes(w("bbbb"))), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(key, w("Alpha"), 1), ERROR_SUCCESS);
    ASSERT_EQ(set_dword(key, w(""), 0), ERROR_SUCCESS);
    std::vector<std::string> names;
    WCHAR name[16];
    DWORD units = 16;
    for (DWORD index = 0;
         RegEnumValueW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) == 0;
         ++index) {
        names.push_back(narrow(host::wstring(name, units)));
        units = 16;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "Alpha", "beta"}));

    units = 4;  // "beta" needs 5 with its terminator
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
    EXPECT_EQ(RegEnumValueW(key, 3, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD subkeys = 9, longestName = 0, largest = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               &longestName, &largest, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(longestName, 5u);
    EXPECT_EQ(largest, 10u);
}

}  // namespace
}  // namespace regtest
