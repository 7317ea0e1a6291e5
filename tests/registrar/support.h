// Shared helpers for the registrar tests: a fresh store directory and console
// file per test, COM with the error-message server, the texts raised and the
// assertions reported during a test, and terse registry set-up helpers.
#pragma once

#include <host/com.h>
#include <host/registry.h>
#include <host/types.h>
#include <kes/error/kescodes.h>
#include <kes/error/keserror.h>
#include <tester/errorserver.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace regtest {

inline host::wstring w(const char16_t* text) {
    host::wstring out;
    for (; *text != 0; ++text)
        out.push_back(static_cast<WCHAR>(*text));
    return out;
}

inline host::wstring w(const std::string& text) {
    return host::wstring(text.begin(), text.end());
}

// ASCII of `text`, '?' for anything else; for messages and comparisons.
inline std::string narrow(const host::wstring& text) {
    std::string out;
    for (WCHAR unit : text)
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return out;
}

// One raised error as the error context recorded it.
using Raised = std::pair<LONG, std::string>;

class RegistrarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kesregistrar-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_home = pattern;
        setenv("KES_HOME", m_home.c_str(), 1);
        setenv("PEL_CONSOLE", (m_home + "/console.log").c_str(), 1);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(tester::RegisterErrorServer(), S_OK);
        TakeRaised();  // whatever an earlier test left behind
    }

    void TearDown() override {
        for (HKEY key : m_open)
            RegCloseKey(key);
        tester::RevokeErrorServer();
        CoUninitialize();
        unsetenv("PEL_CONSOLE");
        std::error_code ignored;
        std::filesystem::remove_all(m_home, ignored);
    }

    // The errors raised with the registrar's codes since the last call, by
    // code and then oldest first; they are taken out of the error context.
    static std::vector<Raised> TakeRaised() {
        std::vector<Raised> all;
        for (LONG code : {KES_E_VALUE_ACCESS, KES_E_NOT_FOUND, KES_E_INVALID_STATE}) {
            // Every entry for the code, newest first, joined by CRLF; the
            // call removes them.
            host::wstring text;
            KesGetErrorMessage(code, text);
            if (!text.empty()) {
                std::string joined = narrow(text);
                std::vector<std::string> parts;
                std::size_t start = 0;
                for (;;) {
                    std::size_t end = joined.find("\r\n", start);
                    parts.push_back(joined.substr(start, end - start));
                    if (end == std::string::npos)
                        break;
                    start = end + 2;
                }
                // Newest first in the join; give them oldest first.
                for (auto it = parts.rbegin(); it != parts.rend(); ++it)
                    all.emplace_back(code, *it);
            }
        }
        return all;
    }

    // The console's text since the last call; the file is emptied.
    std::string TakeConsole() {
        std::string path = m_home + "/console.log";
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        std::ofstream(path, std::ios::binary | std::ios::trunc).close();
        return text;
    }

    // "<source>: <expression>" of every assertion reported on the console
    // since the last call to TakeConsole.
    std::set<std::string> TakeAssertions() { return AssertionsIn(TakeConsole()); }

    // "<source>: <expression>" of every assertion report in console `text`.
    static std::set<std::string> AssertionsIn(const std::string& text) {
        std::set<std::string> found;
        const std::string head = "Assertion failed in ";
        for (std::size_t at = text.find(head); at != std::string::npos;
             at = text.find(head, at + 1)) {
            std::size_t file = at + head.size();
            std::size_t comma = text.find(", line ", file);
            std::size_t colon = text.find(":\r\n", comma);
            std::size_t end = text.find('\n', colon + 3);
            if (comma == std::string::npos || colon == std::string::npos ||
                end == std::string::npos)
                break;
            found.insert(text.substr(file, comma - file) + ": " +
                         text.substr(colon + 3, end - colon - 3));
        }
        return found;
    }

    const std::string& home() const { return m_home; }

    // Creates (or opens) `path` below HKLM; closed at the end of the test.
    HKEY Create(const host::wstring& path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << narrow(path);
        if (key != nullptr)
            m_open.push_back(key);
        return key;
    }
    HKEY CreateApp(const std::string& relative) {
        return Create(w("SOFTWARE\\Telmora\\Brontide\\Applications\\" + relative));
    }

    static LSTATUS SetRaw(HKEY key, const host::wstring& name, DWORD type,
                          const std::vector<BYTE>& bytes) {
        return RegSetValueExW(key, name.c_str(), 0, type, bytes.data(),
                              static_cast<DWORD>(bytes.size()));
    }
    static LSTATUS SetText(HKEY key, const host::wstring& name, const host::wstring& text,
                           DWORD type = REG_SZ) {
        return RegSetValueExW(key, name.c_str(), 0, type,
                              reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    static std::vector<BYTE> GetRaw(HKEY key, const host::wstring& name, DWORD* type) {
        DWORD size = 0;
        if (RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS)
            return {};
        std::vector<BYTE> bytes(size);
        RegQueryValueExW(key, name.c_str(), nullptr, type, bytes.data(), &size);
        bytes.resize(size);
        return bytes;
    }
    // Whether `path` below HKLM exists.
    static bool Exists(const host::wstring& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

  private:
    std::string m_home;
    std::vector<HKEY> m_open;
};

}  // namespace regtest
