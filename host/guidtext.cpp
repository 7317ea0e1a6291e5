#include <host/guidtext.h>

#include <host/taskalloc.h>

#include <cstdint>

namespace {

constexpr int kTextUnits = 38;

// '.' marks a hexadecimal digit; every other character must match exactly.
constexpr char kPattern[kTextUnits + 1] = "{........-....-....-....-............}";

int hex_value(WCHAR c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The 32 digits in text order.
void format(const GUID& guid, WCHAR* out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::uint8_t bytes[16];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(guid.Data1 >> (24 - 8 * i));
    bytes[4] = static_cast<std::uint8_t>(guid.Data2 >> 8);
    bytes[5] = static_cast<std::uint8_t>(guid.Data2);
    bytes[6] = static_cast<std::uint8_t>(guid.Data3 >> 8);
    bytes[7] = static_cast<std::uint8_t>(guid.Data3);
    for (int i = 0; i < 8; ++i)
        bytes[8 + i] = guid.Data4[i];
    int digit = 0;
    for (int i = 0; i < kTextUnits; ++i) {
        if (kPattern[i] != '.') {
            out[i] = static_cast<WCHAR>(kPattern[i]);
            continue;
        }
        std::uint8_t byte = bytes[digit / 2];
        out[i] = static_cast<WCHAR>(kDigits[digit % 2 == 0 ? byte >> 4 : byte & 0xF]);
        ++digit;
    }
    out[kTextUnits] = 0;
}

bool parse(const WCHAR* text, GUID* guid) {
    std::uint8_t bytes[16] = {};
    int digit = 0;
    // Stops at the first unit that breaks the pattern, the terminator included,
    // so nothing beyond it is read.
    for (int i = 0; i < kTextUnits; ++i) {
        if (kPattern[i] != '.') {
            if (text[i] != static_cast<WCHAR>(kPattern[i]))
                return false;
            continue;
        }
        int value = hex_value(text[i]);
        if (value < 0)
            return false;
        bytes[digit / 2] = static_cast<std::uint8_t>(bytes[digit / 2] << 4 | value);
        ++digit;
    }
    if (text[kTextUnits] != 0)
        return false;
    guid->Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 |
                  static_cast<std::uint32_t>(bytes[1]) << 16 |
                  static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    guid->Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid->Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        guid->Data4[i] = bytes[8 + i];
    return true;
}

HRESULT allocate_text(const GUID& guid, LPOLESTR* text) {
    if (text == nullptr)
        return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc((kTextUnits + 1) * sizeof(OLECHAR)));
    if (*text == nullptr)
        return E_OUTOFMEMORY;
    format(guid, *text);
    return S_OK;
}

}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cch) {
    if (buffer == nullptr || cch < kTextUnits + 1)
        return 0;
    format(guid, buffer);
    return kTextUnits + 1;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
    return allocate_text(clsid, text);
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) {
    return allocate_text(iid, text);
}

HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
    if (text == nullptr || iid == nullptr)
        return E_INVALIDARG;
    return parse(text, iid) ? S_OK : E_INVALIDARG;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (text == nullptr || clsid == nullptr)
        return E_INVALIDARG;
    return parse(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}
