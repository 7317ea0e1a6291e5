#include <host/taskalloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The header in front of every task block. Its 16 bytes keep the caller's
// part aligned as malloc aligns, and its tag tells a task block from any other
// pointer, which turns a mismatched release into a clear stop instead of a
// corrupted heap.
struct alignas(16) Header {
    std::uint64_t tag;
    std::uint64_t reserved;
};
static_assert(sizeof(Header) == 16, "task block header keeps 16-byte alignment");

constexpr std::uint64_t kLiveTag = 0x6b65732d7461736bull;  // "kes-task"

void* to_user(Header* header) {
    return header + 1;
}
Header* to_header(void* block) {
    return static_cast<Header*>(block) - 1;
}

[[noreturn]] void bad_block(void* block, const char* what) {
    std::fprintf(stderr, "CoTaskMemFree/CoTaskMemRealloc: %p %s\n", block, what);
    std::abort();
}

Header* checked_header(void* block) {
    Header* header = to_header(block);
    if (header->tag != kLiveTag)
        bad_block(block, "was not allocated by CoTaskMemAlloc");
    return header;
}

bool too_large(SIZE_T size) {
    return size > SIZE_MAX - sizeof(Header);
}

}  // namespace

LPVOID CoTaskMemAlloc(SIZE_T size) {
    if (too_large(size))
        return nullptr;
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (header == nullptr)
        return nullptr;
    header->tag = kLiveTag;
    header->reserved = 0;
    return to_user(header);
}

LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size) {
    if (block == nullptr)
        return CoTaskMemAlloc(size);
    if (size == 0) {
        CoTaskMemFree(block);
        return nullptr;
    }
    Header* header = checked_header(block);
    if (too_large(size))
        return nullptr;
    auto* moved = static_cast<Header*>(std::realloc(header, sizeof(Header) + size));
    if (moved == nullptr)
        return nullptr;
    return to_user(moved);
}

void CoTaskMemFree(LPVOID block) {
    if (block == nullptr)
        return;
    Header* header = checked_header(block);
    header->tag = 0;  // a stale copy of the pointer no longer passes the check
    std::free(header);
}
