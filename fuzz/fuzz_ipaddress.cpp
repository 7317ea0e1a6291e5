// The IP address parser: never crashes, never accepts a byte out of range,
// agrees with the C library's swscanf wherever their documented tolerances
// coincide, and formats every accepted value to a text that parses back.
#include "fuzz_support.h"

#include <host/oleauto.h>
#include <kes/application/kesipaddress.h>
#include <pellib/peltrace.h>

#include <cwchar>
#include <string>

namespace {

// True when some run of digits has more significant digits than an unsigned
// 64-bit number can hold: there the C library wraps a negated value back into
// range ("-18446744073709551615" reads as 1), which this parser refuses.
bool HasHugeNumber(const host::wstring& theText) {
    std::size_t significant = 0;
    bool leading = true;
    for (WCHAR unit : theText) {
        if (unit >= '0' && unit <= '9') {
            if (unit != '0' || !leading) {
                leading = false;
                if (++significant > 19)
                    return true;
            }
        } else {
            significant = 0;
            leading = true;
        }
    }
    return false;
}

// The C library's reading of the text, as far as its first zero unit.
int Reference(const host::wstring& theText, ULONG* theValue) {
    std::wstring text;
    for (WCHAR unit : theText) {
        if (unit == 0)
            break;
        text.push_back(static_cast<wchar_t>(unit));
    }
    unsigned long a = 0, b = 0, c = 0, d = 0;
    if (std::swscanf(text.c_str(), L"%lu.%lu.%lu.%lu", &a, &b, &c, &d) != 4)
        return -1;
    if (a > 255 || b > 255 || c > 255 || d > 255)
        return -1;
    *theValue = static_cast<ULONG>(a << 24 | b << 16 | c << 8 | d);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pelTraceEnable("*", false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    host::wstring text = fuzzing::WideText(data, size);
    CKesIpAddress address(0x12345678u);
    int result = address.SetIpAddress(text);
    FUZZ_CHECK(result == 0 || result == -1);
    if (result != 0) {
        FUZZ_CHECK(address.GetAddress() == 0);
    }

    if (!HasHugeNumber(text)) {
        ULONG expected = 0;
        int reference = Reference(text, &expected);
        FUZZ_CHECK(reference == result);
        if (result == 0) {
            FUZZ_CHECK(expected == address.GetAddress());
        }
    }

    if (result == 0) {
        host::wstring formatted = address.GetIpAddressString();
        FUZZ_CHECK(formatted.size() >= 7 && formatted.size() <= 15);
        CKesIpAddress again;
        FUZZ_CHECK(again.SetIpAddress(formatted) == 0);
        FUZZ_CHECK(again.GetAddress() == address.GetAddress());
        // The automation-string forms agree with the member ones. (A failing
        // text is raised as an error, which goes to the event log: too slow to
        // do for every input, and the member parse above covers the parsing.)
        host::wstring terminated(text.c_str());
        ULONG parsed = 0;
        FUZZ_CHECK(CKesIpAddress::ParseIpAddress(terminated.c_str(), &parsed) == 0);
        FUZZ_CHECK(parsed == address.GetAddress());
        BSTR shown = CKesIpAddress::FormatIpAddress(parsed);
        FUZZ_CHECK(host::wstring(shown, SysStringLen(shown)) == formatted);
        SysFreeString(shown);
    }
    return 0;
}
