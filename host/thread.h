// Thread identity and, later, thread creation and control.
//
// A thread id is the kernel's id for the calling thread (what `gettid`
// returns), as a 32-bit DWORD. It is unique among the threads alive at a
// moment; the kernel reuses the number after the thread has ended, so an id
// says nothing about a thread that may have finished.
#pragma once

#include <host/export.h>
#include <host/types.h>

extern "C" {

// The calling thread's id. Cheap: the kernel is asked once per thread and the
// value is kept in thread-local storage (refreshed in the child after fork).
HOST_API DWORD GetCurrentThreadId();

}  // extern "C"
