// The symbol tables and their enumerators.
#include <kes/registrar/kesenumerator.h>
#include <kes/registrar/kesinterfaceregistrar.h>

#include "support.h"

namespace regtest {
namespace {

TEST(SymbolTables, RowsValuesOrderAndSymbolsAreAsStored) {
    const struct {
        const _TKesEnumEntry* table;
        std::vector<std::int32_t> values;  // in table order
        std::vector<std::string> prefixes;
        const char* zero;
    } cases[] = {
        {theDovPortTypeTable,
         {0,  1,  2,  3,  4,  9,  5,  6,  7,  8,  10, 11, 12, 13, 14,
          15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 29},
         {"DOV_PORT_"},
         "DOV_PORT_UNKNOWN"},
        {theDovModuleTypeTable,
         {0,  1,  2,  3,  4,  5,  6,  7,  12, 8,  9,  10, 11, 13, 14, 15,
          16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30},
         {"DOV_MODULE_", "DOV_CARD_"},
         "DOV_MODULE_UNKNOWN"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.zero);
        std::vector<std::int32_t> values;
        std::set<std::string> symbols;  // distinct: port symbols are key names
        const _TKesEnumEntry* row = each.table;
        for (; row->symbol != nullptr; ++row) {
            values.push_back(row->value);
            const std::string symbol = narrow(host::wstring(row->symbol));
            symbols.insert(symbol);
            bool prefixed = false;
            for (const std::string& prefix : each.prefixes)
                prefixed = prefixed || symbol.compare(0, prefix.size(), prefix) == 0;
            EXPECT_TRUE(prefixed) << symbol;
        }
        EXPECT_EQ(row->value, KES_ENUM_END);
        EXPECT_EQ(values, each.values);
        EXPECT_EQ(symbols.size(), each.values.size());
        EXPECT_EQ(narrow(host::wstring(each.table[0].symbol)), each.zero);
    }
    std::set<std::string> applications;
    for (const unsigned short* name : theDovSessionTypeTable) {
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(host::wstring(name).find('\\'), host::wstring::npos);  // one key level each
        applications.insert(narrow(host::wstring(name)));
    }
    EXPECT_EQ(applications.size(), 9u);
    EXPECT_EQ(narrow(host::wstring(theDovSessionTypeTable[8])), "Unknown");
    EXPECT_EQ(CKesInterfaceRegistrar::DefaultAppName,
              host::wstring(theDovSessionTypeTable[DovSessionWorkbench]));
}

TEST(SymbolTables, EnumeratorsConvertBothWaysAndThrowForWhatIsMissing) {
    CKesEnumeratorEDovPortType ports(theDovPortTypeTable);
    CKesEnumeratorEDovModuleType modules(theDovModuleTypeTable);
    EXPECT_EQ(ports.GetTypeName(), w("EDovPortType"));
    EXPECT_EQ(modules.GetTypeName(), w("EDovModuleType"));
    for (const _TKesEnumEntry* row = theDovPortTypeTable; row->symbol != nullptr; ++row) {
        EXPECT_EQ(ports.ToSymbol(row->value), host::wstring(row->symbol));
        EXPECT_EQ(ports.FromSymbol(host::wstring(row->symbol)), row->value);
    }
    EXPECT_EQ(modules.FromSymbol(w("DOV_CARD_TIMING")), DovCardTiming);

    IKesEnumerator& table = ports;  // through the interface, as callers hold it
    for (int missing : {28, 30, -1, KES_ENUM_END}) {
        try {
            table.ToSymbol(missing);
            ADD_FAILURE() << missing << " has a symbol";
        } catch (const CKesException& caught) {
            EXPECT_EQ(caught.ErrorCode(), KES_E_VALUE_ACCESS);
        }
    }
    for (const char* missing : {"dov_port_unknown", "DOV_PORT_", "", "DOV_MODULE_UNKNOWN"})
        EXPECT_THROW(table.FromSymbol(w(missing)), CKesException) << missing;
    EXPECT_THROW(modules.ToSymbol(31), CKesException);
}

TEST(SymbolTables, FirstMatchWinsAndANullSymbolEndsATable) {
    const WCHAR* first = OLESTR("FIRST");
    const WCHAR* second = OLESTR("SECOND");
    const _TKesEnumEntry rows[] = {
        {5, first}, {5, second}, {6, second}, {7, nullptr}, {8, first}, {KES_ENUM_END, nullptr},
    };
    CKesEnumeratorB<_TKesEnumEntry> table(rows, w("Test"));
    EXPECT_EQ(table.ToSymbol(5), w("FIRST"));
    EXPECT_EQ(table.FromSymbol(w("SECOND")), 5);
    EXPECT_THROW(table.ToSymbol(8), CKesException);  // beyond the row with no symbol
    CKesEnumeratorB<_TKesEnumEntry> none(nullptr, w("None"));
    EXPECT_THROW(none.ToSymbol(0), CKesException);
    EXPECT_THROW(none.FromSymbol(w("FIRST")), CKesException);
}

}  // namespace
}  // namespace regtest
