#include <kes/application/kesipaddress.h>

#include <kes/application/internal/addressscan.h>
#include <kes/error/keserror.h>
#include <kes/types/kesbstr.h>

#include <cstdint>
#include <cstdio>

CKesIpAddress::CKesIpAddress() : m_address(0) {}

CKesIpAddress::CKesIpAddress(ULONG theAddress) : m_address(theAddress) {}

ULONG CKesIpAddress::GetAddress() const {
    return m_address;
}

int CKesIpAddress::SetIpAddress(const host::wstring& theText) {
    m_address = 0;
    std::uint64_t bytes[4];
    if (kes_detail::ScanNumbers(theText.data(), theText.size(), '.', 10, 4, bytes) < 4)
        return -1;
    for (std::uint64_t byte : bytes) {
        if (byte > 255)
            return -1;
    }
    m_address = static_cast<ULONG>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
    return 0;
}

host::wstring CKesIpAddress::GetIpAddressString() const {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{m_address >> 24 & 0xFF},
                  unsigned{m_address >> 16 & 0xFF}, unsigned{m_address >> 8 & 0xFF},
                  unsigned{m_address & 0xFF});
    return host::wstring(text, text + std::char_traits<char>::length(text));
}

LONG CKesIpAddress::ParseIpAddress(const unsigned short* text, ULONG* pAddress) {
    KES_ASSERT(pAddress != 0);
    CKesIpAddress address;
    LONG result = 0;
    if (address.SetIpAddress(CKesBstr(text).ToString()) != 0)
        result = KesRaiseError(KES_E_INVALID_IP_ADDRESS, nullptr, KES_SOURCE_FILE, __LINE__);
    // A null pointer has already been reported; writing through it would end
    // the process.
    if (pAddress != nullptr)
        *pAddress = address.GetAddress();
    return result;
}

BSTR CKesIpAddress::FormatIpAddress(ULONG address) {
    return CKesBstr(CKesIpAddress(address).GetIpAddressString()).ToBSTR();
}
