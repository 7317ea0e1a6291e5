#include <host/oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint32_t kMark = 0x52545342u;  // "BSTR" in little-endian bytes
constexpr std::size_t kHeader = 8;            // mark, then byte count
constexpr std::size_t kMaxBytes = 0xFFFFFFFFu;
constexpr std::size_t kMaxUnits = kMaxBytes / sizeof(OLECHAR);

char* base_of(BSTR text) {
    return reinterpret_cast<char*>(text) - kHeader;
}

std::uint32_t read_word(const char* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void write_word(char* at, std::uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}

std::uint32_t byte_count(BSTR text) {
    return read_word(reinterpret_cast<char*>(text) - 4);
}

// Stops the process on a pointer that these functions did not hand out:
// freeing it would corrupt the heap far from the mistake.
void check_mark(BSTR text) {
    if (read_word(base_of(text)) == kMark)
        return;
    std::fprintf(stderr, "SysFreeString: %p is not a live BSTR\n", static_cast<void*>(text));
    std::abort();
}

// A new BSTR of `bytes` bytes: copied from `source`, or zeros when it is null.
BSTR allocate(const void* source, std::size_t bytes) {
    if (bytes > kMaxBytes)
        return nullptr;
    // Two terminator bytes, plus one for an odd count so that a whole zero
    // unit follows the text.
    std::size_t tail = 2 + (bytes & 1);
    std::size_t total = kHeader + bytes + tail;
    // calloc for uninitialised content: nothing stale leaks into the string,
    // and a large zero string costs no writes.
    char* base = static_cast<char*>(source == nullptr ? std::calloc(1, total) : std::malloc(total));
    if (base == nullptr)
        return nullptr;
    write_word(base, kMark);
    write_word(base + 4, static_cast<std::uint32_t>(bytes));
    char* text = base + kHeader;
    if (source != nullptr) {
        std::memcpy(text, source, bytes);
        std::memset(text + bytes, 0, tail);
    }
    return reinterpret_cast<BSTR>(text);
}

// The units of a terminated wide string; more than kMaxUnits when it is too
// long for a BSTR (the scan stops there).
std::size_t units_of(const OLECHAR* text) {
    std::size_t n = 0;
    while (n <= kMaxUnits && text[n] != 0)
        ++n;
    return n;
}

void release(BSTR text) {
    if (text == nullptr)
        return;
    check_mark(text);
    char* base = base_of(text);
    write_word(base, 0);  // a second free of the same block is then caught
    std::free(base);
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr)
        return nullptr;
    std::size_t units = units_of(text);
    if (units > kMaxUnits)
        return nullptr;
    return allocate(text, units * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxUnits)
        return nullptr;
    return allocate(text, std::size_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) {
    return allocate(bytes, length);
}

int SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (target == nullptr)
        return FALSE;
    if (*target != nullptr)
        check_mark(*target);
    BSTR fresh = nullptr;
    if (text != nullptr) {
        // Copy before freeing: `text` may lie inside the old string.
        fresh = SysAllocString(text);
        if (fresh == nullptr)
            return FALSE;
    }
    release(*target);
    *target = fresh;
    return TRUE;
}

int SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
    if (target == nullptr || length > kMaxUnits)
        return FALSE;
    if (*target != nullptr)
        check_mark(*target);
    BSTR fresh = SysAllocStringLen(text, length);
    if (fresh == nullptr)
        return FALSE;
    if (text == nullptr && *target != nullptr) {
        std::size_t keep = byte_count(*target);
        std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
        std::memcpy(fresh, *target, keep < bytes ? keep : bytes);
    }
    release(*target);
    *target = fresh;
    return TRUE;
}

UINT SysStringLen(BSTR text) {
    return text == nullptr ? 0 : static_cast<UINT>(byte_count(text) / sizeof(OLECHAR));
}

UINT SysStringByteLen(BSTR text) {
    return text == nullptr ? 0 : byte_count(text);
}

void SysFreeString(BSTR text) {
    release(text);
}

}  // extern "C"
