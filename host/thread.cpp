#include <host/thread.h>

#include <host/internal/current_thread.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace host {

__thread DWORD t_current_thread_id __attribute__((tls_model("initial-exec"))) = 0;

DWORD fetch_current_thread_id() {
    // Thread ids are positive pid_t values below 2^22 (pid_max), so the
    // 32-bit DWORD holds every one of them.
    t_current_thread_id = static_cast<DWORD>(::syscall(SYS_gettid));
    return t_current_thread_id;
}

namespace {

// After fork the child's only thread has a new id, but it inherited the
// parent thread's cached one; forget it so that the next call asks again.
void forget_id_in_child() {
    t_current_thread_id = 0;
}

const int g_atfork_registered = ::pthread_atfork(nullptr, nullptr, forget_id_in_child);

}  // namespace
}  // namespace host

DWORD GetCurrentThreadId() {
    return host::current_thread_id();
}
