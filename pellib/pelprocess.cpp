#include <pellib/pelprocess.h>

#include <csignal>

namespace {
// Initial-exec TLS lives in the static TLS block, so reaching it is a plain
// load relative to the thread pointer. The default model for a shared library
// may call __tls_get_addr, which can allocate on a thread's first access and
// is not async-signal-safe.
__attribute__((
    tls_model("initial-exec"))) thread_local volatile std::sig_atomic_t tInterruptContext = 0;
}  // namespace

bool PelProcessBC::isInterruptContext() {
    return tInterruptContext != 0;
}

void PelProcessBC::setInterruptContext(bool on) {
    tInterruptContext = on ? 1 : 0;
}

PelInterruptContextScope::PelInterruptContextScope()
    : m_Previous(PelProcessBC::isInterruptContext()) {
    PelProcessBC::setInterruptContext(true);
}

PelInterruptContextScope::~PelInterruptContextScope() {
    PelProcessBC::setInterruptContext(m_Previous);
}
