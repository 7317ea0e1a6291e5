// Shared helpers for the registrar tests: on top of the registry tests' fresh
// store, a console file per test, COM with the error-message server, and the
// texts raised and the assertions reported during a test.
#pragma once

#include "../registry/support.h"

#include <host/com.h>
#include <kes/error/kescodes.h>
#include <kes/error/keserror.h>
#include <tester/errorserver.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>

namespace regtest {

// One raised error as the error context recorded it.
using Raised = std::pair<LONG, std::string>;
using Raises = std::vector<Raised>;
using Assertions = std::set<std::string>;

class RegistrarTest : public FreshStore {
  protected:
    void SetUp() override {
        FreshStore::SetUp();
        setenv("PEL_CONSOLE", (home() + "/console.log").c_str(), 1);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(tester::RegisterErrorServer(), S_OK);
        TakeRaised();  // whatever an earlier test left behind
    }

    void TearDown() override {
        tester::RevokeErrorServer();
        CoUninitialize();
        unsetenv("PEL_CONSOLE");
        FreshStore::TearDown();
    }

    // The errors raised with the registrar's codes since the last call, by
    // code and then oldest first; they are taken out of the error context.
    static Raises TakeRaised() {
        Raises all;
        for (LONG code : {KES_E_VALUE_ACCESS, KES_E_NOT_FOUND, KES_E_INVALID_STATE}) {
            host::wstring text;
            KesGetErrorMessage(code, text);  // every entry, newest first, joined by CRLF
            const std::string joined = narrow(text);
            std::vector<std::string> parts;
            for (std::size_t start = 0; !joined.empty();) {
                std::size_t end = joined.find("\r\n", start);
                parts.push_back(joined.substr(start, end - start));
                if (end == std::string::npos)
                    break;
                start = end + 2;
            }
            for (auto it = parts.rbegin(); it != parts.rend(); ++it)
                all.emplace_back(code, *it);
        }
        return all;
    }

    // The console's text since the last call; the file is emptied.
    std::string TakeConsole() {
        std::string path = home() + "/console.log";
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        std::ofstream(path, std::ios::binary | std::ios::trunc).close();
        return text;
    }

    // "<source>: <expression>" of every assertion reported on the console
    // since the last call to TakeConsole.
    Assertions TakeAssertions() { return AssertionsIn(TakeConsole()); }

    static Assertions AssertionsIn(const std::string& text) {
        Assertions found;
        const std::string head = "Assertion failed in ";
        for (std::size_t at = text.find(head); at != std::string::npos;
             at = text.find(head, at + 1)) {
            std::size_t file = at + head.size();
            std::size_t comma = text.find(", line ", file);
            std::size_t colon = text.find(":\r\n", comma);
            std::size_t end = text.find('\n', colon + 3);
            if (end == std::string::npos)
                break;
            found.insert(text.substr(file, comma - file) + ": " +
                         text.substr(colon + 3, end - colon - 3));
        }
        return found;
    }

    HKEY CreateApp(const std::string& relative) {
        return create("SOFTWARE\\Telmora\\Brontide\\Applications\\" + relative);
    }
    static bool AppExists(const std::string& relative) {
        return exists("SOFTWARE\\Telmora\\Brontide\\Applications\\" + relative);
    }
    static LSTATUS SetText(HKEY key, const host::wstring& name, const host::wstring& text,
                           DWORD type = REG_SZ) {
        return set(key, name, type, sz_bytes(text));
    }
};
}  // namespace regtest
