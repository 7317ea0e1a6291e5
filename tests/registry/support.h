// Shared helpers for the registry tests: a fresh store directory per test and
// terse wide-text and value helpers.
#pragma once

#include <host/registry.h>
#include <host/types.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace regtest {

inline host::wstring w(const char16_t* text) {
    host::wstring out;
    for (; *text != 0; ++text)
        out.push_back(static_cast<WCHAR>(*text));
    return out;
}

inline host::wstring w(const std::string& ascii) {
    return host::wstring(ascii.begin(), ascii.end());
}

inline std::string narrow(const host::wstring& text) {
    std::string out;
    for (WCHAR unit : text)
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return out;
}

// The bytes of a REG_SZ value: the units and one terminator.
inline std::vector<BYTE> sz_bytes(const host::wstring& text) {
    std::vector<BYTE> bytes;
    for (WCHAR unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// Every test gets its own store directory through KES_HOME, removed after.
class FreshStore : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kesreg-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_home = pattern;
        setenv("KES_HOME", m_home.c_str(), 1);
    }
    void TearDown() override {
        for (HKEY key : m_open)
            RegCloseKey(key);
        std::error_code ignored;
        std::filesystem::remove_all(m_home, ignored);
    }

    const std::string& home() const { return m_home; }

    // Creates (or opens) `path` below `base`; closed at the end of the test.
    HKEY create(const std::string& path, HKEY base = HKEY_LOCAL_MACHINE,
                DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(base, w(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, disposition),
                  ERROR_SUCCESS)
            << path;
        return keep(key);
    }

    // Opens an existing key below `base`; null (and the status) when it fails.
    HKEY open(HKEY base, const std::string& path, REGSAM rights, LSTATUS* status = nullptr) {
        HKEY key = nullptr;
        LSTATUS result = RegOpenKeyExW(base, w(path).c_str(), 0, rights, &key);
        if (status != nullptr)
            *status = result;
        return keep(key);
    }

    HKEY keep(HKEY key) {
        if (key != nullptr)
            m_open.push_back(key);
        return key;
    }

    static bool exists(const std::string& path) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(path).c_str(), 0, KEY_READ, &key);
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    static LSTATUS set(HKEY key, const host::wstring& name, DWORD type,
                       const std::vector<BYTE>& bytes) {
        return RegSetValueExW(key, name.c_str(), 0, type, bytes.data(),
                              static_cast<DWORD>(bytes.size()));
    }
    static LSTATUS set_dword(HKEY key, const host::wstring& name, DWORD value) {
        return RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

    // The raw bytes and type of a value; its status in `*status`.
    static std::vector<BYTE> get(HKEY key, const host::wstring& name, DWORD* type = nullptr,
                                 LSTATUS* status = nullptr) {
        DWORD size = 0;
        LSTATUS result = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
        std::vector<BYTE> bytes(size);
        if (result == ERROR_SUCCESS)
            result = RegQueryValueExW(key, name.c_str(), nullptr, type, bytes.data(), &size);
        bytes.resize(result == ERROR_SUCCESS ? size : 0);
        if (status != nullptr)
            *status = result;
        return bytes;
    }
    static LSTATUS status_of(HKEY key, const host::wstring& name) {
        LSTATUS status;
        get(key, name, nullptr, &status);
        return status;
    }

    // Subkey names of `key` in enumeration order.
    static std::vector<std::string> subkeys(HKEY key) {
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            WCHAR name[256];
            DWORD units = 256;
            LSTATUS status =
                RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
                return names;
            }
            names.push_back(narrow(host::wstring(name, units)));
        }
    }

    static DWORD value_count(HKEY key) {
        DWORD values = 0;
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        return values;
    }

  private:
    std::string m_home;
    std::vector<HKEY> m_open;
};

}  // namespace regtest
