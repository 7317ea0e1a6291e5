// The calling thread's last-error code, as Win32 functions leave it.
//
// Each host function that documents a last-error code sets it on failure (and
// where Win32 does, on success); the value is per thread and survives until
// the next such call on the same thread.
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// The calling thread's last-error code (0 before any call set one).
HOST_API DWORD GetLastError();

// Sets the calling thread's last-error code.
HOST_API void SetLastError(DWORD code);

}  // extern "C"
