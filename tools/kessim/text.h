// Text between the simulator's UTF-8 strings and the library's UTF-16 ones,
// through the host's code page.
#pragma once

#include <host/types.h>
#include <kes/error/kestextconversion.h>

#include <cstddef>
#include <string>

namespace kessim {

inline host::wstring Wide(const std::string& text) {
    return KesAnsiToWideString(text.c_str(), text.size());
}

inline std::string Narrow(const host::wstring& text) {
    return KesWideToAnsiString(text.c_str(), text.size());
}

// A terminated string, or null for the empty string.
inline std::string Narrow(const unsigned short* text) {
    if (text == nullptr)
        return std::string();
    std::size_t length = 0;
    while (text[length] != 0)
        ++length;
    return KesWideToAnsiString(text, length);
}

}  // namespace kessim
