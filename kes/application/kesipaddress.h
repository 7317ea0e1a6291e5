// CKesIpAddress: an IPv4 address as one 32-bit number, with its dotted
// decimal text.
//
// The text a.b.c.d is the value a << 24 | b << 16 | c << 8 | d: the first
// number is the most significant byte. Formatting writes the four bytes in
// decimal without leading zeros ("192.0.2.1").
//
// Parsing reads four numbers separated by dots, as swscanf reads
// "%lu.%lu.%lu.%lu": white space before each number is skipped, a number may
// carry a sign, leading zeros are allowed ("001.002.003.004" is 1.2.3.4), and
// anything after the fourth number is ignored ("1.2.3.4 and more"). It
// succeeds only when all four numbers were read and each lies in 0 to 255: a
// negative number (other than -0) and a number too wide for 32 bits fail. No
// white space may come before a dot.
//
// The member operations work on wide strings; the static ones on automation
// strings (BSTR) for callers on the other side of a COM interface. A value is
// a plain copyable object; distinct objects may be used by distinct threads.
#pragma once

#include <host/types.h>
#include <kes/export.h>

class KES_API CKesIpAddress {
  public:
    // 0.0.0.0.
    CKesIpAddress();
    explicit CKesIpAddress(ULONG theAddress);

    ULONG GetAddress() const;

    // Parses `theText` (up to its first zero unit). 0 on success; -1 when it
    // does not parse, leaving the value 0.
    int SetIpAddress(const host::wstring& theText);
    // The dotted text of the value, at most 15 characters.
    host::wstring GetIpAddressString() const;

    // Parses `text`, an automation string or terminated wide text (null counts
    // as empty), into `*pAddress`. 0 on success. On failure `*pAddress` is 0
    // and KES_E_INVALID_IP_ADDRESS is raised (with no text) and returned. A
    // null `pAddress` fails the assertion "pAddress != 0"; the result is then
    // still the parse's code, and nothing is stored.
    static LONG ParseIpAddress(const unsigned short* text, ULONG* pAddress);
    // The dotted text of `address` as a new automation string, which the
    // caller frees with SysFreeString; null only when memory is exhausted.
    static BSTR FormatIpAddress(ULONG address);

  private:
    ULONG m_address;
};
