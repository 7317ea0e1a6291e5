// The MAC address parser: never crashes, never accepts a byte out of range or
// sets a bit above 47, agrees with the C library's swscanf wherever their
// documented tolerances coincide, and formats every accepted value to a text
// that parses back.
#include "fuzz_support.h"

#include <host/oleauto.h>
#include <kes/application/kesmacaddress.h>
#include <pellib/peltrace.h>

#include <cwchar>
#include <string>

namespace {

// True where the two readings are known to differ: the C library takes a
// "0x" with no digit after it as a number, and wraps a negative number or
// one wider than 32 bits into the unsigned range, all of which this parser
// refuses or reads differently.
bool OutsideTheSharedTolerance(const host::wstring& theText) {
    std::size_t significant = 0;
    bool leading = true;
    for (WCHAR unit : theText) {
        if (unit == 0)
            break;
        if (unit == 'x' || unit == 'X' || unit == '-')
            return true;
        bool digit = (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f') ||
                     (unit >= 'A' && unit <= 'F');
        if (!digit) {
            significant = 0;
            leading = true;
        } else if (unit != '0' || !leading) {
            leading = false;
            if (++significant > 8)
                return true;
        }
    }
    return false;
}

int Reference(const host::wstring& theText, std::uint64_t* theValue) {
    std::wstring text;
    for (WCHAR unit : theText) {
        if (unit == 0)
            break;
        text.push_back(static_cast<wchar_t>(unit));
    }
    unsigned int b[6] = {};
    if (std::swscanf(text.c_str(), L"%X:%X:%X:%X:%X:%X", &b[0], &b[1], &b[2], &b[3], &b[4],
                     &b[5]) != 6)
        return -1;
    std::uint64_t value = 0;
    for (unsigned int byte : b) {
        if (byte > 255)
            return -1;
        value = value << 8 | byte;
    }
    *theValue = value;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pelTraceEnable("*", false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    host::wstring text = fuzzing::WideText(data, size);
    CKesMacAddress address(0xFFFF123456789ABCull);
    int result = address.SetMacAddress(text);
    FUZZ_CHECK(result == 0 || result == -1);
    if (result != 0) {
        FUZZ_CHECK(address.GetAddress() == 0);
    }
    FUZZ_CHECK((address.GetAddress() >> 48) == 0);

    if (!OutsideTheSharedTolerance(text)) {
        std::uint64_t expected = 0;
        int reference = Reference(text, &expected);
        FUZZ_CHECK(reference == result);
        if (result == 0) {
            FUZZ_CHECK(expected == address.GetAddress());
        }
    }

    if (result == 0) {
        host::wstring formatted = address.GetMacAddressString();
        FUZZ_CHECK(formatted.size() == 17);
        CKesMacAddress again;
        FUZZ_CHECK(again.SetMacAddress(formatted) == 0);
        FUZZ_CHECK(again.GetAddress() == address.GetAddress());
        host::wstring terminated(text.c_str());
        std::uint64_t parsed = 0;
        FUZZ_CHECK(CKesMacAddress::ParseMacAddress(terminated.c_str(), &parsed) == 0);
        FUZZ_CHECK(parsed == address.GetAddress());
        // Bits above 47 never reach the text.
        BSTR shown = CKesMacAddress::FormatMacAddress(parsed | 0xABCD000000000000ull);
        FUZZ_CHECK(host::wstring(shown, SysStringLen(shown)) == formatted);
        SysFreeString(shown);
    }
    return 0;
}
