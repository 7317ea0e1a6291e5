#include <kes/util/kesenumconverterbc.h>

#include <kes/error/keserror.h>

#include <cstring>
#include <ostream>

namespace {

// Raises theCode with theText, reported at theLine of this file.
LONG Raise(LONG theCode, const char* theText, int theLine) {
    std::ostream& stream = KesMakeErrorStream();
    stream << theText;
    return KesRaiseError(theCode, stream, KES_SOURCE_FILE, theLine);
}

}  // namespace

LONG KesEnumConverterBC::EnumToString(int value, const char*& name, const EnumSymEnt* table) {
    if (table == nullptr)
        return Raise(KES_E_INVALID_STATE, "Enum Symbol table is empty", __LINE__);
    for (const EnumSymEnt* entry = table; entry->name != nullptr; ++entry) {
        if (entry->value == value) {
            name = entry->name;
            return S_OK;
        }
    }
    return Raise(KES_E_NOT_FOUND, "Enum not found in symbol table", __LINE__);
}

LONG KesEnumConverterBC::EnumToString(int value, char*& name, const EnumSymEnt* table) {
    const char* found = nullptr;
    LONG result = EnumToString(value, found, table);
    if (result == S_OK)
        name = const_cast<char*>(found);
    return result;
}

LONG KesEnumConverterBC::StringToEnum(const char* name, int& value, const EnumSymEnt* table) {
    if (table == nullptr)
        return Raise(KES_E_INVALID_STATE, "Enum Symbol table is empty", __LINE__);
    KES_ASSERT(name != nullptr);
    if (name == nullptr)
        return E_POINTER;
    for (const EnumSymEnt* entry = table; entry->name != nullptr; ++entry) {
        if (std::strcmp(entry->name, name) == 0) {
            value = entry->value;
            return S_OK;
        }
    }
    return Raise(KES_E_NOT_FOUND, "Enum String not found in symbol table", __LINE__);
}
