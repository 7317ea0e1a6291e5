// Symbol tables: an enumeration's values and the texts that stand for them.
//
// A table is an array of _TKesEnumEntry rows ending with the row
// { KES_ENUM_END, nullptr }. Rows need not be in value order; look-ups scan
// from the first row and take the first match. IKesEnumerator turns values
// into symbols and back; CKesEnumeratorB implements it over such a table.
//
// The library's two tables are those of the tester's port types (whose
// symbols, "DOV_PORT_...", are key names in the registry's per-port interface
// records, so they are part of the stored layout) and module types
// ("DOV_MODULE_..." and "DOV_CARD_...").
//
// A look-up that finds no row throws CKesException(KES_E_VALUE_ACCESS):
// ToSymbol and FromSymbol return a text or a value and have no room for a
// code. Throwing reports nothing.
//
// Tables are constant data; enumerators hold no lock and may be used from any
// thread at once.
#pragma once

#include <host/types.h>
#include <kes/error/kescodes.h>
#include <kes/error/kesexception.h>
#include <kes/export.h>
#include <tester/dovtypes.h>

#include <cstdint>

// The value of a table's end row.
constexpr std::int32_t KES_ENUM_END = -7;

// One row of a symbol table.
struct _TKesEnumEntry {
    std::int32_t value;
    const unsigned short* symbol;  // terminated; null only in the end row
};

// Converts between an enumeration's values and their symbols. Not deleted
// through this interface.
class IKesEnumerator {
  public:
    // The symbol of `value`; throws CKesException(KES_E_VALUE_ACCESS) when no
    // row has it.
    virtual host::wstring ToSymbol(int value) = 0;
    // The value whose symbol equals `symbol` exactly; throws as above.
    virtual int FromSymbol(const host::wstring& symbol) = 0;
    // The enumeration's type name.
    virtual host::wstring GetTypeName() = 0;

  protected:
    ~IKesEnumerator() = default;
};

// IKesEnumerator over a table of `TEntry` rows (fields `value`, `symbol`).
// The table is not owned and must outlive the enumerator. A null table is
// taken as an empty one. A row with a null symbol ends the table whatever
// its value, since it has no symbol to give.
template <class TEntry>
class CKesEnumeratorB : public IKesEnumerator {
  public:
    CKesEnumeratorB(const TEntry* theTable, const host::wstring& theTypeName)
        : m_pTable(theTable), m_typeName(theTypeName) {}

    host::wstring ToSymbol(int value) override {
        for (const TEntry* row = m_pTable; row != nullptr && row->symbol != nullptr; ++row) {
            if (row->value == value)
                return host::wstring(row->symbol);
        }
        throw CKesException(KES_E_VALUE_ACCESS);
    }

    int FromSymbol(const host::wstring& symbol) override {
        for (const TEntry* row = m_pTable; row != nullptr && row->symbol != nullptr; ++row) {
            if (symbol == row->symbol)
                return row->value;
        }
        throw CKesException(KES_E_VALUE_ACCESS);
    }

    host::wstring GetTypeName() override { return m_typeName; }

  private:
    const TEntry* m_pTable;  // not owned
    host::wstring m_typeName;
};

// The port-type table: 29 rows (0 to 27 and 29), then the end row.
extern KES_API const _TKesEnumEntry theDovPortTypeTable[30];
// The module-type table: 31 rows (0 to 30), then the end row.
extern KES_API const _TKesEnumEntry theDovModuleTypeTable[32];

// Symbols of EDovPortType, type name "EDovPortType".
class KES_API CKesEnumeratorEDovPortType : public CKesEnumeratorB<_TKesEnumEntry> {
  public:
    explicit CKesEnumeratorEDovPortType(const _TKesEnumEntry* theTable);
};

// Symbols of EDovModuleType, type name "EDovModuleType".
class KES_API CKesEnumeratorEDovModuleType : public CKesEnumeratorB<_TKesEnumEntry> {
  public:
    explicit CKesEnumeratorEDovModuleType(const _TKesEnumEntry* theTable);
};
