// The library's own result codes. Each is a failure HRESULT (negative as a
// signed 32-bit value); the comment says when the library returns or throws it.
#pragma once

#include <host/types.h>

// A safe array has the wrong element size.
constexpr HRESULT KES_E_INVALID_SAFEARRAY = static_cast<HRESULT>(0x80040203u);
// A destination array is too small.
constexpr HRESULT KES_E_ARRAY_TOO_SMALL = static_cast<HRESULT>(0x80040204u);
// The handle allocator has no handle left.
constexpr HRESULT KES_E_OUT_OF_HANDLES = static_cast<HRESULT>(0x80040206u);
// A registry value cannot be read, written or deleted, or has the wrong type;
// a symbol-table lookup fails (thrown as CKesException).
constexpr HRESULT KES_E_VALUE_ACCESS = static_cast<HRESULT>(0x80040208u);
// A value or name is not in a table; a registry key cannot be opened, created,
// closed or deleted.
constexpr HRESULT KES_E_NOT_FOUND = static_cast<HRESULT>(0x8004020Au);
// A table or root key is missing, or a key is already open.
constexpr HRESULT KES_E_INVALID_STATE = static_cast<HRESULT>(0x8004020Eu);
// The host refuses an operation on a kernel synchronisation object (thrown as
// CKesException).
constexpr HRESULT KES_E_SYNC_OBJECT = static_cast<HRESULT>(0x80040210u);
// No more interfaces to enumerate.
constexpr HRESULT KES_E_NO_MORE_ITEMS = static_cast<HRESULT>(0x80040212u);
// An IP address text does not parse.
constexpr HRESULT KES_E_INVALID_IP_ADDRESS = static_cast<HRESULT>(0x80040225u);
// A MAC address text does not parse.
constexpr HRESULT KES_E_INVALID_MAC_ADDRESS = static_cast<HRESULT>(0x80040227u);
// The tester server cannot list a group's ports.
constexpr HRESULT KES_E_GROUP_PORTS_UNAVAILABLE = static_cast<HRESULT>(0x80040502u);
// A port of the group is already in the caller's list.
constexpr HRESULT KES_E_PORT_ALREADY_LISTED = static_cast<HRESULT>(0x80040503u);
