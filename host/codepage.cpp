#include <host/codepage.h>

#include <host/error.h>
#include <host/internal/utf.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

enum class Page { unknown, utf8, ansi_alias };

Page classify(UINT codePage) {
    if (codePage == CP_UTF8)
        return Page::utf8;
    if (codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP) {
        return Page::ansi_alias;
    }
    return Page::unknown;
}

int fail(DWORD code) {
    SetLastError(code);
    return 0;
}

bool overlaps(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
    auto x = reinterpret_cast<std::uintptr_t>(a);
    auto y = reinterpret_cast<std::uintptr_t>(b);
    return x < y + bBytes && y < x + aBytes;
}

// Checks the arguments common to both directions, before the source is read.
// Returns 0 when they are acceptable, else the error code.
DWORD check_arguments(const void* source, int sourceLength, const void* dest, int destLength) {
    if (source == nullptr || sourceLength == 0 || sourceLength < -1)
        return ERROR_INVALID_PARAMETER;
    if (destLength < 0 || (destLength > 0 && dest == nullptr))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

// A conversion never runs in place: the source must not share a byte with the
// destination. Only checked when there is a destination.
bool shares_storage(const void* source, std::size_t sourceBytes, const void* dest,
                    std::size_t destBytes) {
    return destBytes != 0 && (source == dest || overlaps(source, sourceBytes, dest, destBytes));
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR dest,
                        int destUnits) {
    if (DWORD bad = check_arguments(source, sourceBytes, dest, destUnits))
        return fail(bad);
    Page page = classify(codePage);
    if (page == Page::unknown)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = MB_ERR_INVALID_CHARS | (page == Page::ansi_alias ? MB_PRECOMPOSED : 0u);
    if ((flags & ~allowed) != 0)
        return fail(ERROR_INVALID_FLAGS);

    std::size_t length =
        sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceBytes);
    if (shares_storage(source, length, dest, static_cast<std::size_t>(destUnits) * sizeof(WCHAR))) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    bool illFormed = false;
    std::size_t needed = host::utf::utf16_size(source, length, &illFormed);
    if (illFormed && (flags & MB_ERR_INVALID_CHARS) != 0) {
        return fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (needed > static_cast<std::size_t>(INT_MAX))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    if (destUnits == 0)
        return static_cast<int>(needed);
    if (needed > static_cast<std::size_t>(destUnits))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(host::utf::encode_utf16(source, length, dest));
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceUnits, LPSTR dest,
                        int destBytes, LPCSTR defaultChar, LPBOOL usedDefault) {
    if (DWORD bad = check_arguments(source, sourceUnits, dest, destBytes))
        return fail(bad);
    Page page = classify(codePage);
    if (page == Page::unknown)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = WC_ERR_INVALID_CHARS | (page == Page::ansi_alias ? WC_NO_BEST_FIT_CHARS : 0u);
    if ((flags & ~allowed) != 0)
        return fail(ERROR_INVALID_FLAGS);
    if (defaultChar != nullptr || usedDefault != nullptr)
        return fail(ERROR_INVALID_PARAMETER);

    std::size_t length =
        sourceUnits == -1 ? host::utf::length(source) + 1 : static_cast<std::size_t>(sourceUnits);
    if (shares_storage(source, length * sizeof(WCHAR), dest, static_cast<std::size_t>(destBytes))) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    bool illFormed = false;
    std::size_t needed = host::utf::utf8_size(source, length, &illFormed);
    if (illFormed && (flags & WC_ERR_INVALID_CHARS) != 0) {
        return fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    if (needed > static_cast<std::size_t>(INT_MAX))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    if (destBytes == 0)
        return static_cast<int>(needed);
    if (needed > static_cast<std::size_t>(destBytes))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(host::utf::encode_utf8(source, length, dest));
}
