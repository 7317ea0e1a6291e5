// The COM task allocator: the heap that COM servers and their clients share
// for memory handed across an interface (strings from StringFromCLSID, arrays
// filled by a server, texts converted for COM).
//
// A block from CoTaskMemAlloc or CoTaskMemRealloc is owned by whoever holds it
// last and must be released with CoTaskMemFree, never with free(); a block
// from malloc must never reach CoTaskMemFree. This host keeps the two heaps
// apart on purpose (each task block carries a small header before the
// caller's bytes), so that a mismatch is caught: CoTaskMemFree aborts with a
// message when handed a block it did not allocate, and free() on a task block
// is an invalid free that the C library or a sanitizer reports.
//
// No COM initialisation is needed. All three functions are thread-safe; a
// block may be freed by another thread than the one that allocated it.
// Blocks are aligned for any fundamental type.
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// A new block of `size` bytes with undefined contents, or null when memory is
// exhausted. `size` 0 yields a valid, unique, non-null zero-length block.
HOST_API LPVOID CoTaskMemAlloc(SIZE_T size);

// Resizes `block` to `size` bytes, keeping the contents up to the smaller size;
// the block may move. A null `block` allocates as CoTaskMemAlloc does. A size
// of 0 with a non-null `block` frees it and returns null. On exhaustion returns
// null and leaves `block` valid and unchanged.
HOST_API LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size);

// Releases a block from CoTaskMemAlloc or CoTaskMemRealloc. Null does nothing.
HOST_API void CoTaskMemFree(LPVOID block);

}  // extern "C"
