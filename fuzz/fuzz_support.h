// Helpers shared by the fuzz targets: turning the fuzzer's bytes into wide
// text, and stopping loudly when an invariant breaks.
#pragma once

#include <host/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzing {

// Wide text from the fuzzer's bytes. The first byte picks the reading: even,
// each later byte is one unit (so that the fuzzer's ASCII mutations and
// dictionaries apply directly); odd, each later pair of bytes is one
// little-endian unit (any UTF-16 unit at all, surrogates included).
inline host::wstring WideText(const std::uint8_t* data, std::size_t size) {
    host::wstring text;
    if (size == 0)
        return text;
    if ((data[0] & 1) == 0) {
        for (std::size_t i = 1; i < size; ++i)
            text.push_back(data[i]);
    } else {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<WCHAR>(data[i] | data[i + 1] << 8));
    }
    return text;
}

// Aborts with a message, which the fuzzer reports as a crash with its input.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

}  // namespace fuzzing

#define FUZZ_CHECK(condition)                                \
    do {                                                     \
        if (!(condition))                                    \
            ::fuzzing::Fail(#condition, __FILE__, __LINE__); \
    } while (0)
