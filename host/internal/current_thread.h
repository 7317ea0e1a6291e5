// The calling thread's id for the host's own fast paths (the critical section
// compares it on every enter). Internal: callers use GetCurrentThreadId.
#pragma once

#include <host/types.h>

namespace host {

// The cached id, 0 until the thread first asks. `__thread` rather than
// `thread_local`: a `thread_local` read from another translation unit goes
// through an initialisation wrapper call, while this trivially initialised
// variable compiles to one load from the thread pointer (initial-exec model,
// which is valid because libkeshost is loaded with the program or early
// enough to get static TLS space for a single word).
extern __thread DWORD t_current_thread_id __attribute__((tls_model("initial-exec")));

// Asks the kernel, caches and returns the id. Defined in thread.cpp.
DWORD fetch_current_thread_id();

inline DWORD current_thread_id() {
    DWORD id = t_current_thread_id;
    return __builtin_expect(id != 0, 1) ? id : fetch_current_thread_id();
}

}  // namespace host
