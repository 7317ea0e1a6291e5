// CKesMacAddress: a 48-bit MAC address in a 64-bit number, with its text of
// six colon-separated hexadecimal bytes.
//
// The first byte of the text occupies bits 40 to 47 and the last bits 0 to 7.
// Parsing leaves bits 48 to 63 at 0; formatting ignores them and writes each
// byte as two upper-case hexadecimal digits ("00:1B:2C:0D:0E:0F").
//
// Parsing reads six hexadecimal numbers separated by colons, as swscanf reads
// "%X:%X:%X:%X:%X:%X": digits of either case, one or more per number
// ("0:1b:2C:d:e:f"), white space before each number skipped, an optional sign
// and "0x" prefix, anything after the sixth number ignored. It succeeds only
// when all six were read and each lies in 0 to 255 (0 to FF); a negative
// number (other than -0) fails. No white space may come before a colon.
//
// The member operations work on wide strings; the static ones on automation
// strings (BSTR). A value is a plain copyable object; distinct objects may be
// used by distinct threads.
#pragma once

#include <host/types.h>
#include <kes/export.h>

#include <cstdint>

class KES_API CKesMacAddress {
  public:
    // 00:00:00:00:00:00.
    CKesMacAddress();
    explicit CKesMacAddress(std::uint64_t theAddress);

    std::uint64_t GetAddress() const;

    // Parses `theText` (up to its first zero unit). 0 on success; -1 when it
    // does not parse, leaving the value 0.
    int SetMacAddress(const host::wstring& theText);
    // The text of the low six bytes of the value, 17 characters.
    host::wstring GetMacAddressString() const;

    // Parses `text`, an automation string or terminated wide text (null counts
    // as empty), into `*pAddress`. 0 on success. On failure `*pAddress` is 0
    // and KES_E_INVALID_MAC_ADDRESS is raised (with no text) and returned. A
    // null `pAddress` fails the assertion "pAddress != 0"; the result is then
    // still the parse's code, and nothing is stored.
    static LONG ParseMacAddress(const unsigned short* text, std::uint64_t* pAddress);
    // The text of `address` as a new automation string, which the caller frees
    // with SysFreeString; null only when memory is exhausted.
    static BSTR FormatMacAddress(std::uint64_t address);

  private:
    std::uint64_t m_address;
};
