// KesEnumConverterBC: turns an enumeration's value into its symbolic name and
// back through a symbol table that the caller defines once per enumeration.
//
// A symbol table is a contiguous array of EnumSymEnt ended by an entry whose
// name is null; that entry's value is never read, so it never matches:
//
//   static const KesEnumConverterBC::EnumSymEnt theColours[] = {
//       {Red, "Red"}, {Green, "Green"}, {0, nullptr}};
//
// The first matching entry in array order wins, so values and names need not
// be unique. Names compare byte by byte, case-sensitively. The table and its
// strings belong to the caller and must outlive every name handed out from
// them: EnumToString hands out the table's own pointer, not a copy.
//
// Results, each raised through KesRaiseError (so the text is recorded under
// the code and reported):
//   KES_E_INVALID_STATE (0x8004020E) "Enum Symbol table is empty" for a null
//     table (a table holding only its terminator is not "empty": lookups in it
//     fail with the next code);
//   KES_E_NOT_FOUND (0x8004020A) "Enum not found in symbol table" /
//     "Enum String not found in symbol table" when no entry matches.
// A null name given to StringToEnum is reported as an assertion and answered
// with E_POINTER, without a raise. On failure the out argument is untouched.
// Stateless: any thread may call either function at any time.
#pragma once

#include <host/types.h>
#include <kes/export.h>

class KES_API KesEnumConverterBC {
  public:
    struct EnumSymEnt {
        int value;
        const char* name;  // null ends the table
    };

    // 0 with `name` set to the first entry's name for `value`, or an error
    // code (see above) with `name` untouched.
    static LONG EnumToString(int value, const char*& name, const EnumSymEnt* table);
    // The same for callers that keep the name in a non-const pointer; the
    // characters must not be written through it.
    static LONG EnumToString(int value, char*& name, const EnumSymEnt* table);
    // 0 with `value` set to the first entry's value for `name`, or an error
    // code (see above) with `value` untouched.
    static LONG StringToEnum(const char* name, int& value, const EnumSymEnt* table);
};
