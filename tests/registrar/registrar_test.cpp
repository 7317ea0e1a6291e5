// CKesRegistrar: opening keys, typed value access, failure codes and texts.
#include <kes/registrar/kesregistrar.h>
#include <pellib/peltrace.h>

#include "support.h"

#include <functional>
#include <list>

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
        ASSERT_EQ(set(base, w("Number"), REG_DWORD, {7, 0, 0, 0}), ERROR_SUCCESS);
        CreateApp("Base\\Child\\Grand");
        CreateApp("Base\\Other");
        TakeConsole();
    }
};

using Act = std::function<LONG(ExposedRegistrar&)>;

// Opens Base in `mode`, then does `then`.
Act OnBase(EKesAccessMode mode, std::function<LONG(ExposedRegistrar&)> then) {
    return [mode, then](ExposedRegistrar& r) {
        EXPECT_EQ(r.OpenKey(w("Base"), mode), 0);
        return then(r);
    };
}
LONG ReadText(ExposedRegistrar& r, const char* name, bool silent) {
    host::wstring text;
    return r.GetValue(w(name), text, silent);
}
LONG ReadNumber(ExposedRegistrar& r, const char* name, bool silent) {
    ULONG number = 0;
    return r.GetValue(w(name), number, silent);
}

TEST_F(Registrar, EveryFailureGivesItsCodeTextAndAssertion) {
    const LONG kValue = KES_E_VALUE_ACCESS;
    const LONG kFound = KES_E_NOT_FOUND;
    const std::string kReadOnly = Assertion("m_accessMode != KesAccessReadOnly");
    const std::string kNoKey = Assertion("m_subkey != 0");
    const struct {
        const char* situation;
        Act act;  // on a registrar with a root and nothing open
        LONG result;
        Raises raised = {};
        Assertions assertions = {};
    } rows[] = {
        {"open while a key is open",
         OnBase(KesAccessReadOnly,
                [](ExposedRegistrar& r) { return r.OpenKey(w("Base\\Child"), KesAccessReadOnly); }),
         KES_E_INVALID_STATE,
         {{KES_E_INVALID_STATE, "registry key already open"}},
         {Assertion("false")}},
        {"a missing key read-only",
         [](ExposedRegistrar& r) { return r.OpenKey(w("Missing"), KesAccessReadOnly); }, kFound},
        {"an over-long name to create",
         [](ExposedRegistrar& r) { return r.OpenKey(host::wstring(256, 'k'), KesAccessCreate); },
         kFound},
        {"close fails",
         OnBase(KesAccessReadOnly,
                [](ExposedRegistrar& r) {
                    RegCloseKey(r.Subkey());
                    LONG result = r.CloseKey();
                    EXPECT_EQ(r.Subkey(), nullptr);  // forgotten anyway
                    return result;
                }),
         kFound,
         {{kFound, "6"}}},
        {"string read with no key open",
         [](ExposedRegistrar& r) { return ReadText(r, "Text", false); },
         kValue,
         {{kValue, "GetValue failed for Text"}},
         {kNoKey}},
        {"silent number read with no key open",
         [](ExposedRegistrar& r) { return ReadNumber(r, "Number", true); },
         static_cast<LONG>(ERROR_INVALID_HANDLE),
         {},
         {kNoKey}},
        {"write with no key open",
         [](ExposedRegistrar& r) { return r.SetValue(w("Text"), w("x")); },
         kValue,
         {{kValue, "6"}},
         {kNoKey, kReadOnly}},
        {"string write read-only",
         OnBase(KesAccessReadOnly,
                [](ExposedRegistrar& r) { return r.SetValue(w("Text"), w("x")); }),
         kValue,
         {{kValue, "5"}},
         {kReadOnly}},
        {"number write read-only",
         OnBase(KesAccessReadOnly, [](ExposedRegistrar& r) { return r.SetValue(w("Number"), 1u); }),
         kValue,
         {{kValue, "5"}},
         {kReadOnly}},
        {"value deletion read-only",
         OnBase(KesAccessReadOnly, [](ExposedRegistrar& r) { return r.DeleteValue(w("Text")); }),
         kValue,
         {{kValue, "5"}},
         {kReadOnly}},
        {"subkey deletion in create mode goes ahead after the assertion",
         OnBase(KesAccessCreate, [](ExposedRegistrar& r) { return r.DeleteSubkey(w("Other")); }),
         0,
         {},
         {Assertion("m_accessMode == KesAccessReadWrite")}},
        {"missing value read",
         OnBase(KesAccessReadOnly,
                [](ExposedRegistrar& r) { return ReadText(r, "Missing", false); }),
         kValue,
         {{kValue, "GetValue failed for Missing"}}},
        {"missing value read, silent",
         OnBase(KesAccessReadOnly,
                [](ExposedRegistrar& r) { return ReadText(r, "Missing", true); }),
         static_cast<LONG>(ERROR_FILE_NOT_FOUND)},
        {"string read of a number, even silent",
         OnBase(KesAccessReadOnly, [](ExposedRegistrar& r) { return ReadText(r, "Number", true); }),
         kValue,
         {{kValue, "GetValue failed for Number, not a string"}}},
        {"number read of a long string",
         OnBase(KesAccessReadOnly,
                [](ExposedRegistrar& r) { return ReadNumber(r, "Text", false); }),
         kValue,
         {{kValue, "GetValue failed for Text"}}},
        {"number read of a long string, silent",
         OnBase(KesAccessReadOnly, [](ExposedRegistrar& r) { return ReadNumber(r, "Text", true); }),
         static_cast<LONG>(ERROR_MORE_DATA)},
        {"deletion of a missing value",
         OnBase(KesAccessReadWrite,
                [](ExposedRegistrar& r) { return r.DeleteValue(w("Missing")); }),
         kValue,
         {{kValue, "2"}}},
        {"deletion of a subkey that has subkeys",
         OnBase(KesAccessReadWrite, [](ExposedRegistrar& r) { return r.DeleteSubkey(w("Child")); }),
         kFound,
         {{kFound, "5"}}},
        {"deletion of a missing subkey",
         OnBase(KesAccessReadWrite,
                [](ExposedRegistrar& r) { return r.DeleteSubkey(w("Missing")); }),
         kFound,
         {{kFound, "2"}}},
        {"deletion with an empty name, which would be the open key itself",
         [](ExposedRegistrar& r) {
             EXPECT_EQ(r.OpenKey(w("Base\\Child\\Grand"), KesAccessReadWrite), 0);
             return r.DeleteSubkey(host::wstring());
         },
         kFound,
         {{kFound, "87"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.situation);
        {
            ExposedRegistrar registrar;
            EXPECT_EQ(row.act(registrar), row.result);
        }
        const std::string console = TakeConsole();
        EXPECT_EQ(TakeRaised(), row.raised);
        EXPECT_EQ(AssertionsIn(console), row.assertions);
        if (!row.raised.empty()) {  // reports name this module as their source
            EXPECT_NE(console.find(std::string(" in ") + kSource + ", line "), std::string::npos)
                << console;
        }
    }
    EXPECT_TRUE(AppExists("Base\\Child\\Grand"));
    EXPECT_FALSE(AppExists("Base\\Other"));
}

TEST_F(Registrar, WithoutARootEveryOpenIsRefusedAndListsAreEmpty) {
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &closed), ERROR_SUCCESS);
    RegCloseKey(closed);
    ExposedRegistrar registrar(closed);
    EXPECT_EQ(TakeAssertions(), Assertions{Assertion("status == ERROR_SUCCESS")});
    EXPECT_EQ(registrar.OpenKey(w("Base"), KesAccessCreate), KES_E_INVALID_STATE);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_INVALID_STATE, "registry key not found"}}));
    EXPECT_EQ(TakeAssertions(), Assertions{Assertion("false")});

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

    // Closing keeps the mode, a failed open too; then another key can be opened.
    EXPECT_EQ(registrar.CloseKey(), 0);
    EXPECT_EQ(registrar.CloseKey(), 0);  // nothing open
    EXPECT_EQ(registrar.Mode(), KesAccessReadWrite);
    EXPECT_EQ(registrar.OpenKey(w("Missing"), KesAccessReadWrite), KES_E_NOT_FOUND);
    EXPECT_EQ(registrar.Mode(), KesAccessReadWrite);
    EXPECT_EQ(registrar.OpenKey(w("Base\\Child"), KesAccessReadOnly), 0);
    EXPECT_EQ(registrar.Mode(), KesAccessReadOnly);
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(Registrar, StringReadsHold255CharactersTakeEveryStringTypeAndCutAtTheFirstNul) {
    HKEY key = CreateApp("Types");
    ASSERT_EQ(SetText(key, w("Fits"), host::wstring(255, 'a')), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, w("Over"), host::wstring(256, 'b')), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, w("Expand"), w("%HOME%\\bin"), REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(set(key, w("Multi"), REG_MULTI_SZ, {'e', 0,   't', 0,   'h', 0,   '0', 0, 0, 0, 'e',
                                                  0,   't', 0,   'h', 0,   '1', 0,   0, 0, 0, 0}),
              ERROR_SUCCESS);
    ASSERT_EQ(set(key, w("Bare"), REG_SZ, {'n', 0, 'o', 0}), ERROR_SUCCESS);  // no terminator
    ASSERT_EQ(set(key, w("Empty"), REG_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(set(key, w("Odd"), REG_SZ, {'x', 0, 'y'}), ERROR_SUCCESS);  // half a unit
    ASSERT_EQ(set(key, w("Blob"), REG_BINARY, {'b', 0, 0, 0}), ERROR_SUCCESS);
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Types"), KesAccessReadOnly), 0);

    const std::pair<const char*, std::string> reads[] = {
        {"Fits", std::string(255, 'a')},
        {"Expand", "%HOME%\\bin"},
        {"Multi", "eth0"},
        {"Bare", "no"},
        {"Empty", ""},
        {"Odd", "x"},
    };
    for (const auto& read : reads) {
        host::wstring text = w("before");
        EXPECT_EQ(registrar.GetValue(w(read.first), text, false), 0) << read.first;
        EXPECT_EQ(narrow(text), read.second) << read.first;
    }
    host::wstring text = w("unchanged");
    EXPECT_EQ(registrar.GetValue(w("Over"), text, true), static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(TakeRaised(), Raises{});
    EXPECT_EQ(registrar.GetValue(w("Over"), text, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(registrar.GetValue(w("Blob"), text, false), KES_E_VALUE_ACCESS);
    EXPECT_EQ(TakeRaised(),
              (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for Over"},
                      {KES_E_VALUE_ACCESS, "GetValue failed for Blob, not a string"}}));
    EXPECT_EQ(text, w("unchanged"));
}

TEST_F(Registrar, NumberReadsNeedADwordThatFitsInFourBytes) {
    HKEY key = CreateApp("Numbers");
    ASSERT_EQ(SetText(key, w("One"), w("a")), ERROR_SUCCESS);   // 4 bytes with its NUL
    ASSERT_EQ(SetText(key, w("Empty"), w("")), ERROR_SUCCESS);  // 2 bytes
    ASSERT_EQ(SetText(key, w("Two"), w("ab")), ERROR_SUCCESS);  // 6 bytes
    ASSERT_EQ(set(key, w("Short"), REG_DWORD, {0x01, 0x02}), ERROR_SUCCESS);
    ASSERT_EQ(set(key, w("Full"), REG_DWORD, {0x78, 0x56, 0x34, 0x12}), ERROR_SUCCESS);
    CKesRegistrar registrar;
    ASSERT_EQ(registrar.OpenKey(w("Numbers"), KesAccessReadOnly), 0);

    ULONG number = 99;
    for (const char* name : {"One", "Empty", "Two"})
        EXPECT_EQ(registrar.GetValue(w(name), number, false), KES_E_VALUE_ACCESS) << name;
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for One, not a DWORD"},
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
    EXPECT_EQ(registrar.SetValue(w("text"), w("xy")), 0);  // same value, any case

    HKEY key = CreateApp("New\\Deep\\Key");
    DWORD type = 0;
    EXPECT_EQ(get(key, w("TEXT"), &type), (std::vector<BYTE>{'x', 0, 'y', 0, 0, 0}));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(get(key, w("Empty"), &type), (std::vector<BYTE>{0, 0}));
    EXPECT_EQ(get(key, w("Number"), &type), (std::vector<BYTE>{0xEF, 0xBE, 0xAD, 0xDE}));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(registrar.DeleteValue(w("Number")), 0);
    EXPECT_TRUE(get(key, w("Number"), &type).empty());
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(Registrar, NulInNamesAndModesOutsideTheEnumerationAreRefused) {
    ExposedRegistrar registrar;
    const host::wstring nul(1, 0);
    EXPECT_EQ(registrar.OpenKey(w("Base") + nul + w("Child"), KesAccessCreate), KES_E_NOT_FOUND);
    EXPECT_EQ(registrar.OpenKey(w("Base"), static_cast<EKesAccessMode>(7)), KES_E_NOT_FOUND);
    EXPECT_EQ(registrar.Subkey(), nullptr);
    EXPECT_EQ(TakeAssertions(), Assertions{Assertion("known")});
    ASSERT_EQ(registrar.OpenKey(w("Base"), KesAccessReadWrite), 0);
    const host::wstring name = w("Text") + nul + w("x");
    EXPECT_EQ(registrar.SetValue(name, w("other")), KES_E_VALUE_ACCESS);
    EXPECT_EQ(registrar.DeleteValue(name), KES_E_VALUE_ACCESS);
    host::wstring text;
    EXPECT_EQ(registrar.GetValue(name, text, true), static_cast<LONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(registrar.GetValue(w("Text"), text, false), 0);
    EXPECT_EQ(text, w("hello"));  // the value named by the part before the NUL is intact
    TakeRaised();
}

TEST_F(Registrar, ListsGiveSubkeysInNameOrderAndReplaceTheListsContents) {
    for (const char* name : {"Lists\\beta", "Lists\\Alpha", "Lists\\GAMMA"})
        CreateApp(name);
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

    // A registrar on a key has a handle of its own; the caller's outlives it.
    HKEY base = CreateApp("Base");
    {
        CKesRegistrar onKey(base);
        onKey.ListKeys(names);
        EXPECT_EQ(names, (std::list<host::wstring>{w("Child"), w("Other")}));
    }
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(base, w("Child").c_str(), 0, KEY_READ, &child), ERROR_SUCCESS);
    RegCloseKey(child);
}

TEST_F(Registrar, TheModulesTracePatternIsInstalled) {
    EXPECT_GE(pelTraceEnable("kes.kesregistrar", true), 1);  // the selector names its record
}

}  // namespace
}  // namespace regtest
