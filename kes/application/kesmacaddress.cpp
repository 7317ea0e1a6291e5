#include <kes/application/kesmacaddress.h>

#include <kes/application/internal/addressscan.h>
#include <kes/error/keserror.h>
#include <kes/types/kesbstr.h>

#include <cstdio>

CKesMacAddress::CKesMacAddress() : m_address(0) {}

CKesMacAddress::CKesMacAddress(std::uint64_t theAddress) : m_address(theAddress) {}

std::uint64_t CKesMacAddress::GetAddress() const {
    return m_address;
}

int CKesMacAddress::SetMacAddress(const host::wstring& theText) {
    m_address = 0;
    std::uint64_t bytes[6];
    if (kes_detail::ScanNumbers(theText.data(), theText.size(), ':', 16, 6, bytes) < 6)
        return -1;
    std::uint64_t value = 0;
    for (std::uint64_t byte : bytes) {
        if (byte > 255)
            return -1;
        value = value << 8 | byte;
    }
    m_address = value;
    return 0;
}

host::wstring CKesMacAddress::GetMacAddressString() const {
    unsigned byte[6];
    for (int i = 0; i < 6; ++i)
        byte[i] = static_cast<unsigned>(m_address >> (8 * i) & 0xFF);
    char text[18];
    std::snprintf(text, sizeof text, "%2.2X:%2.2X:%2.2X:%2.2X:%2.2X:%2.2X", byte[5], byte[4],
                  byte[3], byte[2], byte[1], byte[0]);
    return host::wstring(text, text + std::char_traits<char>::length(text));
}

LONG CKesMacAddress::ParseMacAddress(const unsigned short* text, std::uint64_t* pAddress) {
    KES_ASSERT(pAddress != 0);
    CKesMacAddress address;
    LONG result = 0;
    if (address.SetMacAddress(CKesBstr(text).ToString()) != 0)
        result = KesRaiseError(KES_E_INVALID_MAC_ADDRESS, nullptr, KES_SOURCE_FILE, __LINE__);
    // A null pointer has already been reported; writing through it would end
    // the process.
    if (pAddress != nullptr)
        *pAddress = address.GetAddress();
    return result;
}

BSTR CKesMacAddress::FormatMacAddress(std::uint64_t address) {
    return CKesBstr(CKesMacAddress(address).GetMacAddressString()).ToBSTR();
}
