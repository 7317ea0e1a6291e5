// Keys: case, order, creation, deletion, limits and handles.
#include "support.h"

#include <cstdint>

namespace regtest {
namespace {

using RegistryKeys = FreshStore;

TEST_F(RegistryKeys, NamesIgnoreCaseAcrossThePlaneAndKeepTheFirstSpelling) {
    HKEY base = create("SOFTWARE\\Test");
    ASSERT_EQ(set_dword(create("Foo", base), w("Value"), 7), ERROR_SUCCESS);
    DWORD disposition = 0;
    HKEY again = create("SOFTWARE\\test\\fOO", HKEY_LOCAL_MACHINE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(get(again, w("VALUE")).size(), 4u);
    EXPECT_EQ(subkeys(base), std::vector<std::string>{"Foo"});

    // Created with the first spelling, opened with the second; U+10400/U+10428
    // lie outside the plane and stay distinct.
    const std::pair<host::wstring, host::wstring> same[] = {
        {w(u"\u00C4pfel"), w(u"\u00E4PFEL")},
        {w(u"\u0416\u0443\u043A"), w(u"\u0436\u0423\u041A")},
        {w(u"\u03C3\u03BF\u03C6"), w(u"\u03A3\u039F\u03A6")},
        {w(u"\u01C4x"), w(u"\u01C6X")},
        {w(u"\uFF41"), w(u"\uFF21")},
        {w(u"\u03BB\u03C2"), w(u"\u039B\u03C3")},  // final sigma
    };
    for (const auto& pair : same) {
        HKEY made = nullptr;
        ASSERT_EQ(RegCreateKeyExW(base, pair.first.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &made, nullptr),
                  ERROR_SUCCESS);
        keep(made);
        HKEY found = nullptr;
        EXPECT_EQ(RegOpenKeyExW(base, pair.second.c_str(), 0, KEY_READ, &found), ERROR_SUCCESS)
            << narrow(pair.second);
        keep(found);
    }
    HKEY made = nullptr;
    const host::wstring capital = {0xD801, 0xDC00};
    const host::wstring small = {0xD801, 0xDC28};
    ASSERT_EQ(RegCreateKeyExW(base, capital.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                              nullptr),
              ERROR_SUCCESS);
    keep(made);
    EXPECT_EQ(RegOpenKeyExW(base, small.c_str(), 0, KEY_READ, &made), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeys, SubkeysEnumerateInUpperCaseOrder) {
    HKEY base = create("SOFTWARE\\Order");
    for (const char* name : {"b", "_x", "A", "C", "a1", "B2"})
        create(name, base);
    // Upper-cased, '_' (0x5F) sorts after the letters; lower-casing would put
    // it first, and a case-sensitive order would split "b" from "B2".
    EXPECT_EQ(subkeys(base), (std::vector<std::string>{"A", "a1", "b", "B2", "C", "_x"}));
}

TEST_F(RegistryKeys, CreateMakesEveryMissingLevelOpenNeverCreates) {
    DWORD disposition = 0;
    create("SOFTWARE\\A\\B\\C", HKEY_LOCAL_MACHINE, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(exists("SOFTWARE\\A\\B"));
    create("SOFTWARE\\A\\B\\C", HKEY_LOCAL_MACHINE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    LSTATUS status;
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing\\Deeper", KEY_READ, &status), nullptr);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(exists("SOFTWARE\\Missing"));

    create("CLSID\\{X}", HKEY_CLASSES_ROOT);
    EXPECT_TRUE(exists("SOFTWARE\\Classes\\CLSID\\{X}"));
}

TEST_F(RegistryKeys, NullOrEmptySubkeyOpensAnIndependentHandleToTheKeyItself) {
    HKEY base = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Self").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &base, nullptr),
              ERROR_SUCCESS);
    HKEY viaNull = nullptr;
    ASSERT_EQ(RegOpenKeyExW(base, nullptr, 0, KEY_READ, &viaNull), ERROR_SUCCESS);
    HKEY viaEmpty = open(base, "", KEY_ALL_ACCESS);
    keep(viaNull);
    EXPECT_NE(viaNull, base);
    EXPECT_NE(viaEmpty, viaNull);
    ASSERT_EQ(set_dword(viaEmpty, w("v"), 1), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(base), ERROR_SUCCESS);  // the others stay usable
    EXPECT_EQ(status_of(viaNull, w("v")), ERROR_SUCCESS);
}

TEST_F(RegistryKeys, KeyWithSubkeysIsRefusedAndProtectedRootsStay) {
    create("SOFTWARE\\Parent\\Child");
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Parent").c_str()),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(exists("SOFTWARE\\Parent\\Child"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\PARENT\\child").c_str()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Parent").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Parent").c_str()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, w("").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Classes").c_str()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, w("SOFTWARE").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(exists("SOFTWARE\\Classes"));

    // A tree with a null subkey loses its contents and keeps its top.
    HKEY tree = create("SOFTWARE\\Tree");
    create("A\\B", tree);
    ASSERT_EQ(set_dword(tree, w("v"), 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(tree, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(subkeys(tree).empty());
    EXPECT_EQ(status_of(tree, w("v")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeys, HandlesToADeletedKeyFailWithKeyDeletedEvenAfterANamesake) {
    HKEY doomed = create("SOFTWARE\\Doomed");
    ASSERT_EQ(set_dword(doomed, w("v"), 1), ERROR_SUCCESS);
    HKEY other = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", KEY_ALL_ACCESS);
    HKEY itself = create("SOFTWARE\\Itself");
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Doomed").c_str()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(itself, w("").c_str()), ERROR_SUCCESS);
    // A new key of the same name has none of the old values, and the old
    // handles do not reach it.
    EXPECT_EQ(status_of(create("SOFTWARE\\Doomed"), w("v")), ERROR_FILE_NOT_FOUND);

    for (HKEY key : {doomed, other, itself}) {
        EXPECT_EQ(status_of(key, w("v")), ERROR_KEY_DELETED);
        EXPECT_EQ(status_of(key, w("missing")), ERROR_KEY_DELETED);
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
    }
    EXPECT_FALSE(exists("SOFTWARE\\Doomed\\child"));
}

TEST_F(RegistryKeys, NamesBeyondTheLimitsOrMalformedAreRefusedWithNothingStored) {
    HKEY base = create("SOFTWARE\\Limits");
    const std::string longest(255, 'k');
    const std::string tooLong(256, 'k');
    create(longest, base);
    HKEY key = nullptr;
    const host::wstring loneSurrogate = {'a', 0xD800, 'b'};
    std::string deepest = "SOFTWARE";
    for (int level = 2; level <= 513; ++level)
        deepest += "\\k";
    std::string longPath = "SOFTWARE";  // every level legal, the path not
    for (int i = 0; i < 130; ++i)
        longPath += "\\" + longest;
    for (const host::wstring& path : {w("New\\" + tooLong), w("a\\\\b"), w("\\a"), w("\\"),
                                      w("a\\\\"), loneSurrogate, w(deepest), w(longPath)}) {
        EXPECT_EQ(RegCreateKeyExW(base, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_INVALID_PARAMETER)
            << narrow(path.substr(0, 20));
        EXPECT_EQ(key, nullptr);
    }
    // Nothing of a refused path was made, not even its valid first levels.
    EXPECT_EQ(subkeys(base), std::vector<std::string>{longest});
    EXPECT_EQ(RegOpenKeyExW(base, w(tooLong).c_str(), 0, KEY_READ, &key), ERROR_INVALID_PARAMETER);
    // 512 levels below HKEY_LOCAL_MACHINE are the most there can be.
    HKEY deep = create(deepest.substr(0, deepest.size() - 2));
    EXPECT_EQ(RegCreateKeyExW(deep, w("k").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    // One trailing separator is harmless; a null path or a volatile key is not.
    create("a\\", base);
    EXPECT_EQ(subkeys(base), (std::vector<std::string>{"a", longest}));
    EXPECT_EQ(RegCreateKeyExW(base, nullptr, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(base, w("v").c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);

    // A name that fits but whose terminator does not is reported, not cut.
    WCHAR name[256];
    DWORD units = 255;
    EXPECT_EQ(RegEnumKeyExW(base, 1, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(units, 255u);
    units = 256;
    EXPECT_EQ(RegEnumKeyExW(base, 1, name, &units, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(units, 255u);
    EXPECT_EQ(name[255], 0);
}

TEST_F(RegistryKeys, InvalidHandlesAreReportedNotFollowed) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Handles").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_NE(create("SOFTWARE\\Handles"), key);  // a reused slot must not revive the old handle

    auto made_up = [](std::uintptr_t value) { return reinterpret_cast<HKEY>(value); };
    HKEY current_user = made_up(
        static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u))));
    for (HKEY bad : {key, static_cast<HKEY>(nullptr), made_up(1), made_up(0xDEADBEEF),
                     made_up(~std::uintptr_t(0)), current_user}) {
        EXPECT_EQ(status_of(bad, w("")), ERROR_INVALID_HANDLE);
        HKEY out = made_up(1);
        EXPECT_EQ(RegOpenKeyExW(bad, nullptr, 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // a no-op
    // The zero-extended spelling of a predefined root works as well.
    EXPECT_NE(open(made_up(0x80000002u), "SOFTWARE\\Handles", KEY_READ), nullptr);
}

TEST_F(RegistryKeys, HandlesKeepTheirStoreWhenTheStoreDirectoryChanges) {
    HKEY first = create("SOFTWARE\\Moved");
    ASSERT_EQ(set_dword(first, w("v"), 1), ERROR_SUCCESS);
    std::string pattern = home() + "/other-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    setenv("KES_HOME", pattern.c_str(), 1);
    EXPECT_FALSE(exists("SOFTWARE\\Moved"));
    EXPECT_EQ(status_of(first, w("v")), ERROR_SUCCESS);
}

}  // namespace
}  // namespace regtest
