// Keys: names, case, order, creation, deletion, limits and handles.
#include "support.h"

#include <cstdint>

namespace regtest {
namespace {

using RegistryKeys = FreshStore;

bool exists(const std::string& path) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(path).c_str(), 0, KEY_READ, &key);
    if (key != nullptr)
        RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// ---- Case -------------------------------------------------------------------------

TEST_F(RegistryKeys, NamesMatchWhateverTheCaseAndKeepTheFirstSpelling) {
    HKEY foo = create("SOFTWARE\\Test\\Foo");
    ASSERT_EQ(set_dword(foo, w("Value"), 7), ERROR_SUCCESS);

    HKEY upper = open(HKEY_LOCAL_MACHINE, "software\\TEST\\FOO", KEY_READ);
    ASSERT_NE(upper, nullptr);
    LSTATUS status;
    DWORD type = 0;
    std::vector<BYTE> bytes = get(upper, w("VALUE"), &type, &status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(bytes.size(), 4u);

    DWORD disposition = 0;
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\test\\fOO").c_str(), 0, nullptr, 0,
                              KEY_READ, nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(again);

    EXPECT_EQ(subkeys(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", KEY_READ)),
              std::vector<std::string>{"Foo"});
}

TEST_F(RegistryKeys, CaseIsIgnoredBeyondAsciiInThePlane) {
    HKEY base = create("SOFTWARE\\Test");
    struct pair {
        const char16_t* created;
        const char16_t* opened;
    } pairs[] = {
        {u"\u00C4pfel", u"\u00E4PFEL"},                  // Latin-1
        {u"\u0416\u0443\u043A", u"\u0436\u0423\u041A"},  // Cyrillic
        {u"\u03C3\u03BF\u03C6", u"\u03A3\u039F\u03A6"},  // Greek
        {u"\u01C4x", u"\u01C6X"},                        // title-case digraph family
        {u"\uFF41", u"\uFF21"},                          // full-width
    };
    for (const pair& p : pairs) {
        HKEY made = nullptr;
        ASSERT_EQ(RegCreateKeyExW(base, w(p.created).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &made, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(made);
        HKEY found = nullptr;
        EXPECT_EQ(RegOpenKeyExW(base, w(p.opened).c_str(), 0, KEY_READ, &found), ERROR_SUCCESS)
            << narrow(w(p.opened));
        RegCloseKey(found);
    }
    // Final sigma upper-cases to the same capital as sigma.
    HKEY made = nullptr;
    ASSERT_EQ(RegCreateKeyExW(base, w(u"\u03BB\u03C2").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &made, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    HKEY sigma = nullptr;
    EXPECT_EQ(RegOpenKeyExW(base, w(u"\u039B\u03C3").c_str(), 0, KEY_READ, &sigma), ERROR_SUCCESS);
    RegCloseKey(sigma);
}

TEST_F(RegistryKeys, SupplementaryCharactersAreComparedExactly) {
    HKEY base = create("SOFTWARE\\Test");
    // U+10400 and U+10428 are a case pair outside the plane: left unfolded,
    // and their surrogate units must not be mistaken for letters either.
    host::wstring capital = {0xD801, 0xDC00};
    host::wstring small = {0xD801, 0xDC28};
    HKEY made = nullptr;
    ASSERT_EQ(RegCreateKeyExW(base, capital.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    HKEY found = nullptr;
    EXPECT_EQ(RegOpenKeyExW(base, small.c_str(), 0, KEY_READ, &found), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(base, capital.c_str(), 0, KEY_READ, &found), ERROR_SUCCESS);
    RegCloseKey(found);
}

// ---- Order ------------------------------------------------------------------------

TEST_F(RegistryKeys, SubkeysEnumerateInUpperCaseOrder) {
    HKEY base = create("SOFTWARE\\Order");
    for (const char* name : {"b", "_x", "A", "C", "a1", "B2"}) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(base, w(name).c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // Upper-cased, '_' (0x5F) sorts after the letters; lower-casing would put
    // it first, and a case-sensitive order would split "b" from "B2".
    EXPECT_EQ(subkeys(base), (std::vector<std::string>{"A", "a1", "b", "B2", "C", "_x"}));
}

// ---- Creation ----------------------------------------------------------------------

TEST_F(RegistryKeys, CreatingSeveralMissingLevelsReportsNewThenExisting) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\A\\B\\C").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    EXPECT_TRUE(exists("SOFTWARE\\A"));
    EXPECT_TRUE(exists("SOFTWARE\\A\\B"));
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\A\\B\\C").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
}

TEST_F(RegistryKeys, OpeningNeverCreates) {
    LSTATUS status;
    HKEY key = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing\\Deeper", KEY_READ, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(exists("SOFTWARE\\Missing"));
}

TEST_F(RegistryKeys, EmptyOrNullSubkeyGivesAnIndependentHandleToTheSameKey) {
    HKEY base = create("SOFTWARE\\Self");
    HKEY viaNull = nullptr;
    HKEY viaEmpty = nullptr;
    ASSERT_EQ(RegOpenKeyExW(base, nullptr, 0, KEY_READ, &viaNull), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(base, w("").c_str(), 0, KEY_ALL_ACCESS, &viaEmpty), ERROR_SUCCESS);
    EXPECT_NE(viaNull, base);
    EXPECT_NE(viaEmpty, viaNull);
    ASSERT_EQ(set_dword(viaEmpty, w("v"), 1), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(base), ERROR_SUCCESS);  // the others stay usable
    LSTATUS status;
    DWORD type;
    get(viaNull, w("v"), &type, &status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    RegCloseKey(viaNull);
    RegCloseKey(viaEmpty);
}

TEST_F(RegistryKeys, ClassesRootIsSoftwareClassesOfTheMachine) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, w("CLSID\\{X}").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(exists("SOFTWARE\\Classes\\CLSID\\{X}"));
}

// ---- Deletion ------------------------------------------------------------------------

TEST_F(RegistryKeys, KeyWithSubkeysIsNotDeletedLeafFirstIs) {
    create("SOFTWARE\\Parent\\Child");
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Parent").c_str()),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(exists("SOFTWARE\\Parent\\Child"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\PARENT\\child").c_str()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Parent").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(exists("SOFTWARE\\Parent"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Parent").c_str()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryKeys, ValuesGoWithTheirKeyAndDoNotReturnWithANewKeyOfTheSameName) {
    HKEY key = create("SOFTWARE\\Gone");
    ASSERT_EQ(set_dword(key, w("v"), 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Gone").c_str()), ERROR_SUCCESS);
    HKEY fresh = create("SOFTWARE\\Gone");
    LSTATUS status;
    DWORD type;
    get(fresh, w("v"), &type, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    // The old handle names the deleted key, not its namesake.
    get(key, w("v"), &type, &status);
    EXPECT_EQ(status, ERROR_KEY_DELETED);
}

TEST_F(RegistryKeys, PredefinedRootsCannotBeDeleted) {
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, w("").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Classes").c_str()),
              ERROR_ACCESS_DENIED);
    create("SOFTWARE\\Other\\Deep");
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, w("SOFTWARE").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(exists("SOFTWARE\\Other\\Deep"));
    EXPECT_TRUE(exists("SOFTWARE\\Classes"));
}

TEST_F(RegistryKeys, DeleteTreeRemovesEverythingBelowAndOptionallyTheTop) {
    HKEY top = create("SOFTWARE\\Tree");
    create("SOFTWARE\\Tree\\A\\B");
    create("SOFTWARE\\Tree\\C");
    ASSERT_EQ(set_dword(top, w("v"), 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(top, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(exists("SOFTWARE\\Tree"));
    EXPECT_TRUE(subkeys(top).empty());
    LSTATUS status;
    DWORD type;
    get(top, w("v"), &type, &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);

    create("SOFTWARE\\Tree\\A\\B");
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Tree").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(exists("SOFTWARE\\Tree"));
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Tree").c_str()),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeys, HandlesToADeletedKeyFailWithKeyDeleted) {
    HKEY doomed = create("SOFTWARE\\Doomed");
    ASSERT_EQ(set_dword(doomed, w("v"), 1), ERROR_SUCCESS);
    HKEY other = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", KEY_ALL_ACCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Doomed").c_str()), ERROR_SUCCESS);

    for (HKEY key : {doomed, other}) {
        LSTATUS status;
        DWORD type;
        get(key, w("v"), &type, &status);
        EXPECT_EQ(status, ERROR_KEY_DELETED);
        EXPECT_EQ(get(key, w("missing"), &type, &status).size(), 0u);
        EXPECT_EQ(status, ERROR_KEY_DELETED);
        EXPECT_EQ(set_dword(key, w("v"), 2), ERROR_KEY_DELETED);
        EXPECT_EQ(RegDeleteValueW(key, w("v").c_str()), ERROR_KEY_DELETED);
        WCHAR name[8];
        DWORD units = 8;
        EXPECT_EQ(RegEnumKeyExW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        units = 8;
        EXPECT_EQ(RegEnumValueW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        DWORD count = 0;
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        HKEY sub = nullptr;
        EXPECT_EQ(RegCreateKeyExW(key, w("child").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &sub, nullptr),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(sub, nullptr);
        EXPECT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_READ, &sub), ERROR_KEY_DELETED);
        EXPECT_EQ(RegOpenKeyExW(key, w("child").c_str(), 0, KEY_READ, &sub), ERROR_KEY_DELETED);
    }
    EXPECT_FALSE(exists("SOFTWARE\\Doomed\\child"));
    EXPECT_EQ(RegCloseKey(other), ERROR_SUCCESS);
}

TEST_F(RegistryKeys, KeyCanDeleteItselfThroughItsOwnHandle) {
    HKEY key = create("SOFTWARE\\Itself");
    EXPECT_EQ(RegDeleteKeyW(key, w("").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(exists("SOFTWARE\\Itself"));
    EXPECT_EQ(set_dword(key, w("v"), 1), ERROR_KEY_DELETED);
}

// ---- Limits ----------------------------------------------------------------------------

TEST_F(RegistryKeys, KeyNameLevelsOf255UnitsAreTakenAnd256Refused) {
    HKEY base = create("SOFTWARE\\Limits");
    std::string longest(255, 'k');
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(base, w(longest).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string tooLong(256, 'k');
    EXPECT_EQ(RegCreateKeyExW(base, w("New\\" + tooLong).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);
    // Nothing of the refused path was made, not even its valid first level.
    EXPECT_EQ(subkeys(base), std::vector<std::string>{longest});
    EXPECT_EQ(RegOpenKeyExW(base, w(tooLong).c_str(), 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
    // A name that fits but whose terminator does not is reported, not cut.
    WCHAR name[256];
    DWORD units = 255;
    EXPECT_EQ(RegEnumKeyExW(base, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(units, 255u);
    units = 256;
    EXPECT_EQ(RegEnumKeyExW(base, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(units, 255u);
    EXPECT_EQ(name[255], 0);
}

TEST_F(RegistryKeys, DepthAndPathLengthAreBounded) {
    std::string path = "SOFTWARE";
    for (int level = 2; level <= 512; ++level)
        path += "\\k";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    HKEY deeper = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, w("k").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);

    // 130 levels of 255 units: each level is legal, the path is not.
    std::string level(255, 'p');
    std::string longPath = "SOFTWARE";
    for (int i = 0; i < 130; ++i)
        longPath += "\\" + level;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(longPath).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(exists("SOFTWARE\\" + level));
}

TEST_F(RegistryKeys, MalformedPathsAreRefused) {
    HKEY base = create("SOFTWARE\\Paths");
    HKEY key = nullptr;
    host::wstring loneSurrogate = {'a', 0xD800, 'b'};
    for (const host::wstring& path : {w("a\\\\b"), w("\\a"), w("\\"), w("a\\\\"), loneSurrogate}) {
        EXPECT_EQ(RegCreateKeyExW(base, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_INVALID_PARAMETER)
            << narrow(path);
    }
    EXPECT_TRUE(subkeys(base).empty());
    // One trailing separator is harmless.
    ASSERT_EQ(RegCreateKeyExW(base, w("a\\").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(subkeys(base), std::vector<std::string>{"a"});
    EXPECT_EQ(RegCreateKeyExW(base, nullptr, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(base, w("v").c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
}

// ---- Handles -----------------------------------------------------------------------------

TEST_F(RegistryKeys, InvalidHandlesAreReportedNotFollowed) {
    HKEY key = create("SOFTWARE\\Handles");
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    // A new handle may reuse the slot; the stale one must still be refused.
    HKEY reused = create("SOFTWARE\\Handles");
    EXPECT_NE(reused, key);

    auto made_up = [](std::uintptr_t value) { return reinterpret_cast<HKEY>(value); };
    HKEY current_user = made_up(
        static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u))));
    for (HKEY bad : {key, static_cast<HKEY>(nullptr), made_up(1), made_up(0xDEADBEEF),
                     made_up(~std::uintptr_t(0)), current_user}) {
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(bad, nullptr, nullptr, nullptr, nullptr, &size),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(set_dword(bad, w("v"), 1), ERROR_INVALID_HANDLE);
        HKEY out = made_up(1);
        EXPECT_EQ(RegOpenKeyExW(bad, nullptr, 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(RegDeleteKeyW(bad, w("x").c_str()), ERROR_INVALID_HANDLE);
        WCHAR name[8];
        DWORD units = 8;
        EXPECT_EQ(RegEnumKeyExW(bad, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_TRUE(exists("SOFTWARE\\Handles"));
}

TEST_F(RegistryKeys, ZeroExtendedRootHandlesAreAccepted) {
    auto machine = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));
    HKEY key = open(machine, "SOFTWARE", KEY_READ);
    EXPECT_NE(key, nullptr);
}

TEST_F(RegistryKeys, HandlesKeepTheirStoreWhenTheStoreDirectoryChanges) {
    HKEY first = create("SOFTWARE\\Moved");
    ASSERT_EQ(set_dword(first, w("v"), 1), ERROR_SUCCESS);

    std::string pattern = home() + "/other-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    setenv("KES_HOME", pattern.c_str(), 1);
    EXPECT_FALSE(exists("SOFTWARE\\Moved"));
    LSTATUS status;
    DWORD type;
    get(first, w("v"), &type, &status);
    EXPECT_EQ(status, ERROR_SUCCESS);
}

}  // namespace
}  // namespace regtest
