// The PEL_TRACE switch list, read when a trace pattern is installed: any text
// is taken without a crash, and leaves the pattern's word on or off.
#include "fuzz_support.h"

#include <pellib/peltrace.h>

#include <cstdlib>
#include <string>

namespace {

PelTrace_ thePattern = {0, "kes", "fuzzing", "fuzz/fuzz_peltrace", 0, -1, {-1}, 0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Malformed items are reported on the console; keep the fuzzer's output
    // readable.
    setenv("PEL_CONSOLE", "/dev/null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An environment value ends at its first zero byte.
    std::string value(reinterpret_cast<const char*>(data), size);
    value = value.c_str();
    setenv("PEL_TRACE", value.c_str(), 1);
    thePattern.enabled.store(-1);
    int number = pelTraceInstallPattern(thePattern);
    FUZZ_CHECK(number > 0);
    std::int32_t word = thePattern.enabled.load();
    FUZZ_CHECK(word == -1 || word == 0);
    FUZZ_CHECK(pelTraceInstallPattern(thePattern) == number);  // installed once
    FUZZ_CHECK(pelTraceRemovePattern(thePattern) == 1);
    FUZZ_CHECK(pelTraceRemovePattern(thePattern) == 0);
    return 0;
}
