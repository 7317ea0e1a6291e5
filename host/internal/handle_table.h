// The process's handle table: maps HANDLE values to kernel objects. Internal
// to libkeshost.
//
// A handle is an index into the table plus the slot's generation number, so a
// handle that was closed (its slot since reused or not) or a value that was
// never issued is recognised and refused; no value, however garbled, is
// dereferenced. Lookups take a short per-slot lock and return a counted
// reference, so a handle closed while another thread uses its object leaves
// that thread a valid object until it lets go. Up to 2^20 handles may be open
// at once. All functions are thread-safe.
#pragma once

#include <host/error.h>
#include <host/export.h>
#include <host/internal/kernel_object.h>
#include <host/types.h>

#include <cstddef>
#include <memory>

namespace host {

// Registers `object` under a new handle. Returns null, with
// ERROR_NOT_ENOUGH_MEMORY, when the table is full.
HANDLE handle_insert(std::shared_ptr<kernel_object> object);

// The object behind `handle`, or null with ERROR_INVALID_HANDLE when the value
// is not an open handle (closed, never issued, or garbage).
std::shared_ptr<kernel_object> handle_lookup(HANDLE handle);

// As handle_lookup, and also null with ERROR_INVALID_HANDLE when the object is
// not a T.
template <class T>
std::shared_ptr<T> handle_lookup_as(HANDLE handle);

// Closes `handle`; false with ERROR_INVALID_HANDLE when it is not open.
bool handle_close(HANDLE handle);

// Diagnostics for tests: how many threads wait on the object behind `handle`
// (0 for a handle that is not open). Exported only for the host's tests.
HOST_API std::size_t debug_waiter_count(HANDLE handle);

template <class T>
std::shared_ptr<T> handle_lookup_as(HANDLE handle) {
    std::shared_ptr<kernel_object> object = handle_lookup(handle);
    if (!object)
        return nullptr;
    if (!object->is<T>()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(std::move(object));
}

}  // namespace host
