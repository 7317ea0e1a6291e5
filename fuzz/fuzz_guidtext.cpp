// The GUID text parsers: never read past the terminator, agree with each
// other, change nothing on failure, and accept exactly the texts that the
// formatter writes (in either letter case).
#include "fuzz_support.h"

#include <host/com.h>
#include <host/guidtext.h>

#include <cstring>
#include <vector>

namespace {

WCHAR Upper(WCHAR theUnit) {
    return theUnit >= 'a' && theUnit <= 'z' ? static_cast<WCHAR>(theUnit - 32) : theUnit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    host::wstring text = fuzzing::WideText(data, size);
    // A buffer of exactly the text and its terminator, so that the address
    // sanitizer sees any read beyond it.
    std::vector<WCHAR> buffer(text.begin(), text.end());
    buffer.push_back(0);

    const GUID sentinel = {0x01234567u, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    IID iid = sentinel;
    CLSID clsid = sentinel;
    HRESULT byIid = IIDFromString(buffer.data(), &iid);
    HRESULT byClsid = CLSIDFromString(buffer.data(), &clsid);
    FUZZ_CHECK(byIid == S_OK || byIid == E_INVALIDARG);
    FUZZ_CHECK(byClsid == S_OK || byClsid == CO_E_CLASSSTRING);
    FUZZ_CHECK((byIid == S_OK) == (byClsid == S_OK));
    if (byIid != S_OK) {
        FUZZ_CHECK(iid == sentinel && clsid == sentinel);
        return 0;
    }
    FUZZ_CHECK(iid == clsid);

    // Accepted: the terminated text is the formatter's output, up to case.
    std::size_t length = 0;
    while (buffer[length] != 0)
        ++length;
    FUZZ_CHECK(length == 38);
    WCHAR shown[39];
    FUZZ_CHECK(StringFromGUID2(iid, shown, 39) == 39);
    for (std::size_t i = 0; i < 38; ++i)
        FUZZ_CHECK(Upper(buffer[i]) == shown[i]);
    FUZZ_CHECK(shown[38] == 0);
    return 0;
}
