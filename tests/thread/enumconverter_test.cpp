// KesEnumConverterBC: both directions, first match wins, the terminator never
// matches, and the raised codes and texts.
#include <kes/util/kesenumconverterbc.h>

#include <kes/error/keserror.h>

#include "support.h"

#include <gtest/gtest.h>

namespace {

using Entry = KesEnumConverterBC::EnumSymEnt;

// The terminator's value (3) is one that is sought: it must never match.
const Entry kColours[] = {{1, "Red"},  {2, "Green"}, {2, "Verde"},
                          {4, "Blue"}, {5, "Red"},   {3, nullptr}};
const Entry kOnlyTerminator[] = {{0, nullptr}};

TEST(EnumConverter, ValueToNameGivesTheFirstEntrysOwnPointer) {
    // value -> index of the entry whose pointer (not a copy) comes back
    for (auto [value, index] : {std::pair{1, 0}, {2, 1}, {4, 3}, {5, 4}}) {
        const char* name = nullptr;
        EXPECT_EQ(KesEnumConverterBC::EnumToString(value, name, kColours), S_OK);
        EXPECT_EQ(name, kColours[index].name) << value;
    }
    char* mutable_name = nullptr;
    EXPECT_EQ(KesEnumConverterBC::EnumToString(4, mutable_name, kColours), S_OK);
    EXPECT_EQ(mutable_name, kColours[3].name);
}

TEST(EnumConverter, NameToValueMatchesWholeNamesCaseSensitivelyFirstEntryWins) {
    struct Case {
        const char* name;
        LONG result;
        int value;  // when found
    };
    const Case cases[] = {
        {"Red", S_OK, 1},  // not 5: the earlier entry wins
        {"Verde", S_OK, 2},
        {"Blue", S_OK, 4},
        {"red", KES_E_NOT_FOUND, 0},
        {"RED", KES_E_NOT_FOUND, 0},
        {"Re", KES_E_NOT_FOUND, 0},
        {"Reds", KES_E_NOT_FOUND, 0},
        {"", KES_E_NOT_FOUND, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int value = -99;
        EXPECT_EQ(KesEnumConverterBC::StringToEnum(c.name, value, kColours), c.result);
        EXPECT_EQ(value, c.result == S_OK ? c.value : -99);
        if (c.result != S_OK) {
            EXPECT_EQ(LastText(KES_E_NOT_FOUND), "Enum String not found in symbol table");
        }
    }
}

TEST(EnumConverter, FailuresRaiseTheirCodesWithTheirTextsAndLeaveTheOutArgument) {
    const char* const untouched = "untouched";
    struct Case {
        int value;
        const Entry* table;
        LONG result;
        const char* text;
    };
    const Case cases[] = {
        {3, kColours, KES_E_NOT_FOUND, "Enum not found in symbol table"},  // the terminator's
        {0, kColours, KES_E_NOT_FOUND, "Enum not found in symbol table"},
        {0, kOnlyTerminator, KES_E_NOT_FOUND, "Enum not found in symbol table"},
        {1, nullptr, KES_E_INVALID_STATE, "Enum Symbol table is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const char* name = untouched;
        EXPECT_EQ(KesEnumConverterBC::EnumToString(c.value, name, c.table), c.result);
        EXPECT_EQ(name, untouched);
        EXPECT_EQ(LastText(c.result), c.text);
    }

    int value = -99;
    EXPECT_EQ(KesEnumConverterBC::StringToEnum("Red", value, kOnlyTerminator), KES_E_NOT_FOUND);
    EXPECT_EQ(KesEnumConverterBC::StringToEnum("Red", value, nullptr), KES_E_INVALID_STATE);
    EXPECT_EQ(LastText(KES_E_INVALID_STATE), "Enum Symbol table is empty");
    EXPECT_EQ(KesEnumConverterBC::StringToEnum(nullptr, value, kColours), E_POINTER);
    EXPECT_EQ(value, -99);
}

}  // namespace
