// The interrupt-context test.
//
// Code that runs where it must not block, allocate or take locks (a signal
// handler on this host, the counterpart of an interrupt routine) marks itself
// as running in interrupt context; library code asks isInterruptContext() and
// then skips work such as console tracing. The mark is per thread: a thread is
// in interrupt context only while it has marked itself, and never otherwise.
//
// Both operations are async-signal-safe: they touch only a thread-local flag
// in static TLS, so a signal handler may call them at any point, also while
// the interrupted code is itself inside one of them.
#pragma once

#include <pellib/export.h>

class PEL_API PelProcessBC {
  public:
    PelProcessBC() = delete;

    // True while the calling thread is marked as running in interrupt context.
    static bool isInterruptContext();

    // Marks (true) or unmarks (false) the calling thread. Prefer
    // PelInterruptContextScope, which restores the previous mark.
    static void setInterruptContext(bool on);
};

// Marks the calling thread as in interrupt context for the scope's lifetime
// and then restores the mark it found, so scopes nest (a signal handler that
// interrupts another handler's scope). Async-signal-safe; construct and
// destroy it on the same thread.
class PEL_API PelInterruptContextScope {
  public:
    PelInterruptContextScope();
    ~PelInterruptContextScope();
    PelInterruptContextScope(const PelInterruptContextScope&) = delete;
    PelInterruptContextScope& operator=(const PelInterruptContextScope&) = delete;

  private:
    bool m_Previous;
};
