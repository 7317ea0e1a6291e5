// CKesRegistrar: opening keys, typed value access, failure codes and texts.
#include <kes/registrar/kesregistrar.h>
#include <pellib/peltrace.h>

#include "support.h"

#include <atomic>
#include <functional>
#include <list>
#include <thread>

namespace regtest {
namespace {

const char kSource[] = "kes/registrar/kesregistrar";

std::string Assertion(const char* expression) {
    return std::string(kSource) + ": " + expression;
}

// Reaches the registrar's fields, to break its handles behind its back.
class ExposedRegistrar : public CKesRegistrar {
  public:
    using CKesRegistrar::CKesRegistrar;
    HKEY Subkey() const { return m_subkey; }
    EKesAccessMode Mode() const { return m_accessMode; }
};

class Registrar : public RegistrarTest {
  protected:
    void SetUp() override {
        RegistrarTest::SetUp();
        HKEY base = CreateApp("Base");
        ASSERT_EQ(SetText(base, w("Text"), w("hello")), ERROR_SUCCESS);
        DWORD seven = 7;
        ASSERT_EQ(SetRaw(base, w("Number"), REG_DWORD,
                         {reinterpret_cast<BYTE*>(&seven), reinterpret_cast<BYTE*>(&seven) + 4}),
                  ERROR_SUCCESS);
        CreateApp("Base\\Child\\Grand");
        CreateApp("Base\\Other");
        TakeConsole();
    }

    // A handle that was valid once and is closed now.
    static HKEY ClosedHandle() {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        return key;
    }
};

struct FailureRow {
    const char* situation;
    std::function<LONG(ExposedRegistrar&)> act;  // on a registrar with root, nothing open
    LONG result;
    std::vector<Raised> raised;
    std::set<std::string> assertions;
};

TEST_F(Registrar, EveryFailureGivesItsCodeTextAndAssertion) {
    const host::wstring base = w("Base");
    const std::vector<FailureRow> rows = {
        {"open while a key is open",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             return r.OpenKey(w("Base\\Child"), KesAccessReadOnly);
         },
         KES_E_INVALID_STATE,
         {{KES_E_INVALID_STATE, "registry key already open"}},
         {Assertion("false")}},
        {"store refuses to open a missing key",
         [&](ExposedRegistrar& r) { return r.OpenKey(w("Missing"), KesAccessReadOnly); },
         KES_E_NOT_FOUND,
         {},
         {}},
        {"store refuses to open a missing key read-write",
         [&](ExposedRegistrar& r) { return r.OpenKey(w("Missing"), KesAccessReadWrite); },
         KES_E_NOT_FOUND,
         {},
         {}},
        {"store refuses to create an over-long name",
         [&](ExposedRegistrar& r) { return r.OpenKey(host::wstring(256, 'k'), KesAccessCreate); },
         KES_E_NOT_FOUND,
         {},
         {}},
        {"close fails",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             RegCloseKey(r.Subkey());
             LONG result = r.CloseKey();
             EXPECT_EQ(r.Subkey(), nullptr);  // forgotten anyway
             return result;
         },
         KES_E_NOT_FOUND,
         {{KES_E_NOT_FOUND, "6"}},
         {}},
        {"string read with no key open",
         [&](ExposedRegistrar& r) {
             host::wstring text;
             return r.GetValue(w("Text"), text, false);
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "GetValue failed for Text"}},
         {Assertion("m_subkey != 0")}},
        {"silent number read with no key open",
         [&](ExposedRegistrar& r) {
             ULONG number = 0;
             return r.GetValue(w("Number"), number, true);
         },
         static_cast<LONG>(ERROR_INVALID_HANDLE),
         {},
         {Assertion("m_subkey != 0")}},
        {"write with no key open",
         [&](ExposedRegistrar& r) { return r.SetValue(w("Text"), w("x")); },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "6"}},
         {Assertion("m_subkey != 0"), Assertion("m_accessMode != KesAccessReadOnly")}},
        {"string write through a read-only key",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             return r.SetValue(w("Text"), w("x"));
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "5"}},
         {Assertion("m_accessMode != KesAccessReadOnly")}},
        {"number write through a read-only key",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             return r.SetValue(w("Number"), 1u);
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "5"}},
         {Assertion("m_accessMode != KesAccessReadOnly")}},
        {"value deletion through a read-only key",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             return r.DeleteValue(w("Text"));
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "5"}},
         {Assertion("m_accessMode != KesAccessReadOnly")}},
        {"subkey deletion in create mode goes ahead after the assertion",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessCreate), 0);
             return r.DeleteSubkey(w("Other"));
         },
         0,
         {},
         {Assertion("m_accessMode == KesAccessReadWrite")}},
        {"missing value read",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             host::wstring text;
             return r.GetValue(w("Missing"), text, false);
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "GetValue failed for Missing"}},
         {}},
        {"missing value read, silent",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             host::wstring text;
             return r.GetValue(w("Missing"), text, true);
         },
         static_cast<LONG>(ERROR_FILE_NOT_FOUND),
         {},
         {}},
        {"string read of a number, silent or not",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             host::wstring text;
             return r.GetValue(w("Number"), text, true);
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "GetValue failed for Number, not a string"}},
         {}},
        {"number read of a long string",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             ULONG number = 0;
             return r.GetValue(w("Text"), number, false);
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "GetValue failed for Text"}},
         {}},
        {"number read of a long string, silent",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadOnly), 0);
             ULONG number = 0;
             return r.GetValue(w("Text"), number, true);
         },
         static_cast<LONG>(ERROR_MORE_DATA),
         {},
         {}},
        {"deletion of a missing value",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadWrite), 0);
             return r.DeleteValue(w("Missing"));
         },
         KES_E_VALUE_ACCESS,
         {{KES_E_VALUE_ACCESS, "2"}},
         {}},
        {"deletion of a subkey that has subkeys",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadWrite), 0);
             return r.DeleteSubkey(w("Child"));
         },
         KES_E_NOT_FOUND,
         {{KES_E_NOT_FOUND, "5"}},
         {}},
        {"deletion of a missing subkey",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(base, KesAccessReadWrite), 0);
             return r.DeleteSubkey(w("Missing"));
         },
         KES_E_NOT_FOUND,
         {{KES_E_NOT_FOUND, "2"}},
         {}},
        {"deletion with an empty name, which would be the open key itself",
         [&](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(w("Base\\Child\\Grand"), KesAccessReadWrite), 0);
             return r.DeleteSubkey(host::wstring());
         },
         KES_E_NOT_FOUND,
         {{KES_E_NOT_FOUND, "87"}},
         {}},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.situation);
        {
            ExposedRegistrar registrar;
            EXPECT_EQ(row.act(registrar), row.result);
        }
        const std::string console = TakeConsole();
        EXPECT_EQ(TakeRaised(), row.raised);
        EXPECT_EQ(AssertionsIn(console), row.assertions);
        // Reports name this module as their source.
        if (!row.raised.empty()) {
            EXPECT_NE(console.find(std::string(" in ") + kSource + ", line "), std::string::npos)
                << console;
        }
    }
    // The empty-name deletion left the key in place; the create-mode one went ahead.
    EXPECT_TRUE(Exists(w("SOFTWARE\\Telmora\\Brontide\\Applications\\Base\\Child")));
    EXPECT_TRUE(Exists(w("SOFTWARE\\Telmora\\Brontide\\Applications\\Base\\Child\\Grand")));
    EXPECT_FALSE(Exists(w("SOFTWARE\\Telmora\\Brontide\\Applications\\Base\\Other")));
}

TEST_F(Registrar, WithoutARootEveryOpenIsRefusedAndListsAreEmpty) {
    ExposedRegistrar registrar(ClosedHandle());
    EXPECT_EQ(TakeAssertions(), std::set<std::string>{Assertion("status == ERROR_SUCCESS")});
    EXPECT_EQ(registrar.OpenKey(w("Base"), KesAccessCreate), KES_E_INVALID_STATE);
    EXPECT_EQ(TakeRaised(), (std::vector<Raised>{{KES_E_INVALID_STATE, "registry key not found"}}));
    EXPECT_EQ(TakeAssertions(), std::set<std::string>{Assertion("false")});

    std::list<host::wstring> names = {w("stale")};
    EXPECT_EQ(registrar.ListKeys(names), 0);
    EXPECT_TRUE(names.empty());
    names = {w("stale")};
    EXPECT_EQ(registrar.ListSubKeys(names), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(registrar.CloseKey(), 0);
}

TEST_F(Registrar, SecondOpenIsRefusedAndTheFirstKeyStaysUsable) {
    ExposedRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Base"), KesAccessReadWrite), 0);
    EXPECT_EQ(registrar.OpenKey(w("Base\\Child"), KesAccessReadOnly), KES_E_INVALID_STATE);
    TakeRaised();
    EXPECT_EQ(registrar.Mode(), KesAccessReadWrite);
    host::wstring text;
    EXPECT_EQ(registrar.GetValue(w("Text"), text, false), 0);
    EXPECT_EQ(text, w("hello"));
    EXPECT_EQ(registrar.SetValue(w("Text"), w("again")), 0);

    // Closing keeps the mode; the registrar can then open another key.
    EXPECT_EQ(registrar.CloseKey(), 0);
    EXPECT_EQ(registrar.CloseKey(), 0);  // nothing open
    EXPECT_EQ(registrar.Mode(), KesAccessReadWrite);
    EXPECT_EQ(registrar.OpenKey(w("Base\\Child"), KesAccessReadOnly), 0);
    // A failed open keeps the mode of the last successful one.
    EXPECT_EQ(registrar.CloseKey(), 0);
    EXPECT_EQ(registrar.OpenKey(w("Missing"), KesAccessReadWrite), KES_E_NOT_FOUND);
    EXPECT_EQ(registrar.Mode(), KesAccessReadOnly);
    EXPECT_EQ(TakeRaised(), std::vector<Raised>{});
}

TEST_F(Registrar, StringReadsHold255CharactersAnd256AreTooMany) {
    HKEY key = CreateApp("Long");
    const host::wstring fits(255, 'a');
    const host::wstring over(256, 'b');
    ASSERT_EQ(SetText(key, w("Fits"), fits), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, w("Over"), over), ERROR_SUCCESS);
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Long"), KesAccessReadOnly), 0);

    host::wstring text;
    EXPECT_EQ(registrar.GetValue(w("Fits"), text, false), 0);
    EXPECT_EQ(text, fits);
    text = w("unchanged");
    EXPECT_EQ(registrar.GetValue(w("Over"), text, true), static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(TakeRaised(), std::vector<Raised>{});
    EXPECT_EQ(registrar.GetValue(w("Over"), text, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(TakeRaised(),
              (std::vector<Raised>{{KES_E_VALUE_ACCESS, "GetValue failed for Over"}}));
    EXPECT_EQ(text, w("unchanged"));
}

TEST_F(Registrar, StringReadsTakeEveryStringTypeAsStoredUpToTheFirstNul) {
    HKEY key = CreateApp("Types");
    ASSERT_EQ(SetText(key, w("Expand"), w("%HOME%\\bin"), REG_EXPAND_SZ), ERROR_SUCCESS);
    const std::vector<BYTE> multi = {'e', 0,   't', 0,   'h', 0,   '0', 0, 0, 0, 'e',
                                     0,   't', 0,   'h', 0,   '1', 0,   0, 0, 0, 0};
    ASSERT_EQ(SetRaw(key, w("Multi"), REG_MULTI_SZ, multi), ERROR_SUCCESS);
    ASSERT_EQ(SetRaw(key, w("Bare"), REG_SZ, {'n', 0, 'o', 0}), ERROR_SUCCESS);  // no terminator
    ASSERT_EQ(SetRaw(key, w("Empty"), REG_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(SetRaw(key, w("Odd"), REG_SZ, {'x', 0, 'y'}),
              ERROR_SUCCESS);  // half a unit at the end
    ASSERT_EQ(SetRaw(key, w("Blob"), REG_BINARY, {'b', 0, 0, 0}), ERROR_SUCCESS);
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Types"), KesAccessReadOnly), 0);

    const std::pair<const char*, const char*> reads[] = {
        {"Expand", "%HOME%\\bin"}, {"Multi", "eth0"}, {"Bare", "no"}, {"Empty", ""}, {"Odd", "x"},
    };
    for (const auto& read : reads) {
        host::wstring text = w("before");
        EXPECT_EQ(registrar.GetValue(w(read.first), text, false), 0) << read.first;
        EXPECT_EQ(narrow(text), read.second) << read.first;
    }
    host::wstring text;
    EXPECT_EQ(registrar.GetValue(w("Blob"), text, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(
        TakeRaised(),
        (std::vector<Raised>{{KES_E_VALUE_ACCESS, "GetValue failed for Blob, not a string"}}));
}

TEST_F(Registrar, NumberReadsNeedADwordThatFitsInFourBytes) {
    HKEY key = CreateApp("Numbers");
    ASSERT_EQ(SetText(key, w("One"), w("a")), ERROR_SUCCESS);   // 4 bytes with its NUL
    ASSERT_EQ(SetText(key, w("Empty"), w("")), ERROR_SUCCESS);  // 2 bytes
    ASSERT_EQ(SetText(key, w("Two"), w("ab")), ERROR_SUCCESS);  // 6 bytes
    ASSERT_EQ(SetRaw(key, w("Short"), REG_DWORD, {0x01, 0x02}), ERROR_SUCCESS);
    ASSERT_EQ(SetRaw(key, w("Full"), REG_DWORD, {0x78, 0x56, 0x34, 0x12}), ERROR_SUCCESS);
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Numbers"), KesAccessReadOnly), 0);

    ULONG number = 99;
    EXPECT_EQ(registrar.GetValue(w("One"), number, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(registrar.GetValue(w("Empty"), number, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(registrar.GetValue(w("Two"), number, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(TakeRaised(),
              (std::vector<Raised>{{KES_E_VALUE_ACCESS, "GetValue failed for One, not a DWORD"},
                                   {KES_E_VALUE_ACCESS, "GetValue failed for Empty, not a DWORD"},
                                   {KES_E_VALUE_ACCESS, "GetValue failed for Two"}}));
    EXPECT_EQ(number, 99u);  // failures leave the caller's variable alone
    EXPECT_EQ(registrar.GetValue(w("Full"), number, false), 0);
    EXPECT_EQ(number, 0x12345678u);
    EXPECT_EQ(registrar.GetValue(w("Short"), number, false), 0);
    EXPECT_EQ(number, 0x0201u);  // zero-extended, nothing left of the earlier value
}

TEST_F(Registrar, WritesStoreTheRegistryTypesAndSizes) {
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("New\\Deep\\Key"), KesAccessCreate), 0);
    EXPECT_EQ(registrar.SetValue(w("Text"), w("abc")), 0);
    EXPECT_EQ(registrar.SetValue(w("Empty"), host::wstring()), 0);
    EXPECT_EQ(registrar.SetValue(w("Number"), 0xDEADBEEFu), 0);
    EXPECT_EQ(registrar.SetValue(w("text"), w("replaced")), 0);  // same value, any case

    HKEY key = CreateApp("New\\Deep\\Key");
    DWORD type = 0;
    EXPECT_EQ(GetRaw(key, w("TEXT"), &type), (std::vector<BYTE>{'r', 0, 'e', 0, 'p', 0, 'l', 0, 'a',
                                                                0, 'c', 0, 'e', 0, 'd', 0, 0, 0}));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(GetRaw(key, w("Empty"), &type), (std::vector<BYTE>{0, 0}));
    EXPECT_EQ(GetRaw(key, w("Number"), &type), (std::vector<BYTE>{0xEF, 0xBE, 0xAD, 0xDE}));
    EXPECT_EQ(type, REG_DWORD);

    EXPECT_EQ(registrar.DeleteValue(w("Number")), 0);
    EXPECT_TRUE(GetRaw(key, w("Number"), &type).empty());
    EXPECT_EQ(TakeRaised(), std::vector<Raised>{});
}

TEST_F(Registrar, NamesHoldingANulAreRefusedRatherThanCut) {
    ExposedRegistrar registrar;
    const host::wstring cut = w("Base") + host::wstring(1, 0) + w("Child");
    EXPECT_EQ(registrar.OpenKey(cut, KesAccessCreate), KES_E_NOT_FOUND);
    ASSERT_EQ(registrar.OpenKey(w("Base"), KesAccessReadWrite), 0);
    const host::wstring name = w("Text") + host::wstring(1, 0) + w("x");
    EXPECT_EQ(registrar.SetValue(name, w("other")), KES_E_VALUE_ACCESS);
    EXPECT_EQ(registrar.DeleteValue(name), KES_E_VALUE_ACCESS);
    host::wstring text;
    EXPECT_EQ(registrar.GetValue(name, text, true), static_cast<LONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(registrar.GetValue(w("Text"), text, false), 0);
    EXPECT_EQ(text, w("hello"));  // the value named by the part before the NUL is intact
    TakeRaised();
}

TEST_F(Registrar, AModeOutsideTheEnumerationOpensNothing) {
    ExposedRegistrar registrar;
    EXPECT_EQ(registrar.OpenKey(w("Base"), static_cast<EKesAccessMode>(7)), KES_E_NOT_FOUND);
    EXPECT_EQ(registrar.Subkey(), nullptr);
    EXPECT_EQ(TakeAssertions(), std::set<std::string>{Assertion("known")});
}

TEST_F(Registrar, ListsGiveSubkeysInNameOrderAndReplaceTheListsContents) {
    CreateApp("Lists\\beta");
    CreateApp("Lists\\Alpha");
    CreateApp("Lists\\GAMMA");
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Lists"), KesAccessReadOnly), 0);
    std::list<host::wstring> names = {w("stale")};
    EXPECT_EQ(registrar.ListSubKeys(names), 0);
    EXPECT_EQ(names, (std::list<host::wstring>{w("Alpha"), w("beta"), w("GAMMA")}));

    names = {w("stale")};
    EXPECT_EQ(registrar.ListKeys(names), 0);  // the root's subkeys: the applications
    EXPECT_EQ(names, (std::list<host::wstring>{w("Base"), w("Lists")}));

    // Enumeration stops at the first name over 127 characters.
    CreateApp("Lists\\B" + std::string(127, 'x'));
    EXPECT_EQ(registrar.ListSubKeys(names), 0);
    EXPECT_EQ(names, (std::list<host::wstring>{w("Alpha"), w("beta")}));
}

TEST_F(Registrar, ARegistrarOnAKeyHasAHandleOfItsOwn) {
    HKEY base = CreateApp("Base");
    {
        CKesRegistrar registrar(base);
        ASSERT_EQ(registrar.OpenKey(w("Child"), KesAccessReadWrite), 0);
        EXPECT_EQ(registrar.SetValue(w("Mark"), 1u), 0);
        std::list<host::wstring> names;
        registrar.ListKeys(names);
        EXPECT_EQ(names, (std::list<host::wstring>{w("Child"), w("Other")}));
    }
    // The caller's handle outlives the registrar.
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(base, w("Child").c_str(), 0, KEY_READ, &child), ERROR_SUCCESS);
    RegCloseKey(child);
}

TEST_F(Registrar, SeparateRegistrarsOnOneKeyFromManyThreadsLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 150;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kRounds; ++i) {
                CKesRegistrar registrar;
                if (registrar.OpenKey(w("Shared"), KesAccessCreate) != 0) {
                    ++failures;
                    continue;
                }
                const host::wstring name = w("v" + std::to_string(t) + "_" + std::to_string(i));
                ULONG back = 0;
                if (registrar.SetValue(name, static_cast<ULONG>(t * 1000 + i)) != 0 ||
                    registrar.GetValue(name, back, true) != 0 ||
                    back != static_cast<ULONG>(t * 1000 + i)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    DWORD values = 0;
    HKEY shared = CreateApp("Shared");
    ASSERT_EQ(RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kRounds));
}

TEST_F(Registrar, TheModulesTracePatternIsInstalled) {
    // The selector names at least the registrar's own record.
    EXPECT_GE(pelTraceEnable("kes.kesregistrar", true), 1);
}

}  // namespace
}  // namespace regtest
