// Code-page conversion of untrusted bytes and units: sizes asked for match
// what is written, valid text round-trips unchanged, and ill-formed input is
// either refused (strict flags) or replaced, never over-read or over-written.
#include "fuzz_support.h"

#include <host/codepage.h>
#include <host/error.h>
#include <kes/error/kestextconversion.h>

#include <climits>
#include <string>
#include <vector>

namespace {

constexpr WCHAR kReplacement = 0xFFFD;

void BytesToUnits(const std::string& theBytes) {
    int length = static_cast<int>(theBytes.size());
    int needed = MultiByteToWideChar(CP_UTF8, 0, theBytes.data(), length, nullptr, 0);
    FUZZ_CHECK(needed >= 1 && needed <= length);
    std::vector<WCHAR> units(static_cast<std::size_t>(needed));
    FUZZ_CHECK(MultiByteToWideChar(CP_UTF8, 0, theBytes.data(), length, units.data(), needed) ==
               needed);
    if (needed > 1) {
        // One unit short is refused.
        FUZZ_CHECK(MultiByteToWideChar(CP_UTF8, 0, theBytes.data(), length, units.data(),
                                       needed - 1) == 0);
        FUZZ_CHECK(MultiByteToWideChar(CP_UTF8, 0, theBytes.data(), length, units.data(), needed) ==
                   needed);
    }
    int strict =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, theBytes.data(), length, nullptr, 0);
    bool hasReplacement = false;
    for (WCHAR unit : units)
        hasReplacement = hasReplacement || unit == kReplacement;
    if (strict == 0) {
        FUZZ_CHECK(GetLastError() == ERROR_NO_UNICODE_TRANSLATION);
        FUZZ_CHECK(hasReplacement);
        return;
    }
    FUZZ_CHECK(strict == needed);
    // Valid text comes back byte for byte.
    int back = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units.data(), needed, nullptr, 0,
                                   nullptr, nullptr);
    FUZZ_CHECK(back == length);
    std::string bytes(static_cast<std::size_t>(back), '\0');
    FUZZ_CHECK(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units.data(), needed,
                                   bytes.data(), back, nullptr, nullptr) == back);
    FUZZ_CHECK(bytes == theBytes);
    // The library's own conversions agree.
    host::wstring wide = KesAnsiToWideString(theBytes.data(), theBytes.size());
    FUZZ_CHECK(wide == host::wstring(units.begin(), units.end()));
}

void UnitsToBytes(const host::wstring& theUnits) {
    int length = static_cast<int>(theUnits.size());
    int needed =
        WideCharToMultiByte(CP_UTF8, 0, theUnits.data(), length, nullptr, 0, nullptr, nullptr);
    FUZZ_CHECK(needed >= length && needed <= 3 * length);
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    FUZZ_CHECK(WideCharToMultiByte(CP_UTF8, 0, theUnits.data(), length, bytes.data(), needed,
                                   nullptr, nullptr) == needed);
    std::string library = KesWideToAnsiString(theUnits.data(), theUnits.size());
    FUZZ_CHECK(library == bytes);
    // The result is always valid UTF-8: lone surrogates became U+FFFD.
    FUZZ_CHECK(
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), needed, nullptr, 0) > 0);
    // Into a fixed buffer: terminated, and empty when it does not fit.
    std::vector<char> small(8, 'x');
    host::wstring terminated(theUnits.c_str());
    char* written = KesWideToAnsi(small.data(), terminated.c_str(), static_cast<int>(small.size()));
    FUZZ_CHECK(written == small.data());
    FUZZ_CHECK(std::char_traits<char>::length(small.data()) < small.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > INT_MAX / 4)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    BytesToUnits(bytes);
    host::wstring units = fuzzing::WideText(data, size);
    if (!units.empty())
        UnitsToBytes(units);
    return 0;
}
