#include <host/thread.h>

#include <host/error.h>
#include <host/internal/current_thread.h>
#include <host/internal/futex.h>
#include <host/internal/handle_table.h>
#include <host/internal/kernel_object.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Under the thread sanitizer a thread ended by the raw exit system call never
// finishes in the sanitizer's books, and its pthread_join waits for that for
// ever; the stopper then learns of the end another way (see wait_gone). The
// sanitizer also holds back a signal that arrives outside its intercepted
// calls until the thread next passes through one (or an atomic operation),
// which a thread asleep in a system call never does by itself; see
// install_stop_signal and wait_gone.
#if defined(__SANITIZE_THREAD__)
#define HOST_THREAD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HOST_THREAD_TSAN 1
#endif
#endif

namespace host {

__thread DWORD t_current_thread_id __attribute__((tls_model("initial-exec"))) = 0;

DWORD fetch_current_thread_id() {
    // Thread ids are positive pid_t values below 2^22 (pid_max), so the
    // 32-bit DWORD holds every one of them.
    t_current_thread_id = static_cast<DWORD>(::syscall(SYS_gettid));
    return t_current_thread_id;
}

namespace {

// ---- Thread objects -----------------------------------------------------------------

// Who decides how the thread ends. Changed only under the object's lock, so
// that a stopper and the thread's own return never both win.
enum class run_state { running, exiting, stopping };

class thread_object final : public kernel_object {
  public:
    static const object_kind kind_tag;
    thread_object() : kernel_object(kind_tag) {}

    bool is_signalled(const thread_state&) const override { return m_ended; }
    bool acquire(thread_state&) override { return false; }  // a thread's end is not consumed

    // Set by the creator before the thread starts; read-only afterwards.
    LPTHREAD_START_ROUTINE m_start = nullptr;
    LPVOID m_parameter = nullptr;
    LPDWORD m_id_out = nullptr;  // the creator's out pointer, used before start runs
    pthread_t m_pthread{};
    pid_t m_process = 0;  // a handle inherited by a forked child names no thread there

    // Written by the new thread before it reports in (m_started); read-only
    // afterwards.
    DWORD m_tid = 0;
    int m_base_nice = 0;
    std::shared_ptr<thread_state> m_wait_state;
    std::atomic<std::uint32_t> m_started{0};  // futex word: 1 once the thread has reported in

    // Guarded by the object's lock.
    run_state m_state = run_state::running;
    bool m_ended = false;
    DWORD m_exit_code = STILL_ACTIVE;
    int m_priority = THREAD_PRIORITY_NORMAL;
    bool m_idle_policy = false;  // the kernel thread runs under SCHED_IDLE

    // Set (1) once the thread is gone and its object signalled; futex word for
    // a second stopper.
    std::atomic<std::uint32_t> m_ended_word{0};

    // Keeps the object alive for the thread while it may still run. Dropped
    // by the thread as it returns, or by its stopper once it is gone; the run
    // state decides which, so only one of them ever touches it.
    std::shared_ptr<thread_object> m_self;

    // Forced-stop hand-over. The dying thread stores m_last_words (release)
    // as its last act, which gives the stopper a happens-before edge for what
    // the thread wrote; under the thread sanitizer the kernel clears m_gone
    // when the thread is gone (it becomes the thread's clear-child-tid word).
    std::atomic<int> m_last_words{0};
    std::atomic<std::uint32_t> m_gone{1};
};

const object_kind thread_object::kind_tag{"thread"};

// The object of the calling thread when CreateThread made it, else null.
__thread thread_object* t_record __attribute__((tls_model("initial-exec"))) = nullptr;

// ---- What a stopped thread leaves behind ----------------------------------------------

// A thread ended by force keeps a reference to its wait state in its dead
// thread-local storage, which no one can reach or release any more; the
// states are kept here instead, reachable, so that the leak stays bounded and
// visible rather than lost. Never destroyed (threads may be stopped during
// exit).
std::mutex& graveyard_mutex() {
    static std::mutex* const instance = new std::mutex;
    return *instance;
}
std::vector<std::shared_ptr<thread_state>>& graveyard() {
    static auto* const instance = new std::vector<std::shared_ptr<thread_state>>;
    return *instance;
}
void retain_dead_state(std::shared_ptr<thread_state> state) {
    std::lock_guard<std::mutex> lock(graveyard_mutex());
    graveyard().push_back(std::move(state));
}

// Threads that ended themselves by force: joinable, gone, and joined later
// (by the next CreateThread) so that the C library can reuse their stacks.
std::mutex& reap_mutex() {
    static std::mutex* const instance = new std::mutex;
    return *instance;
}
std::vector<pthread_t>& reap_list() {
    static auto* const instance = new std::vector<pthread_t>;
    return *instance;
}

void reap_self_stopped() {
    std::lock_guard<std::mutex> lock(reap_mutex());
    std::vector<pthread_t>& list = reap_list();
    list.erase(
        std::remove_if(list.begin(), list.end(),
                       [](pthread_t thread) { return ::pthread_tryjoin_np(thread, nullptr) == 0; }),
        list.end());
}

// In a forked child the listed threads never existed; joining them would
// free stacks that the child's C library has already taken back.
void forget_reap_list_in_child() {
    reap_list().clear();
}

// ---- The end of a stopped thread ---------------------------------------------------------

int stop_signal() {
    return SIGRTMAX - 3;
}

// The values of all pthread keys of the calling thread are cleared before it
// ends by force: the C library does not clear them when it hands the dead
// thread's stack to a new thread, which would otherwise inherit them. With a
// null value pthread_setspecific only stores into the thread's own arrays
// (it allocates nothing), so this is safe in a signal handler.
void clear_thread_specific_data() {
    for (unsigned key = 0; key < PTHREAD_KEYS_MAX; ++key)
        ::pthread_setspecific(static_cast<pthread_key_t>(key), nullptr);
}

[[noreturn]] void exit_kernel_thread() {
    // The raw system call ends this kernel thread only, with no unwinding and
    // no C library exit processing; the kernel then clears the thread's
    // clear-child-tid word and wakes whoever waits on it (pthread_join).
    for (;;)
        ::syscall(SYS_exit, 0);
}

// Ends the calling thread for a stopper that waits for it (wait_gone).
[[noreturn]] void end_stopped_thread(thread_object& record) {
    record.m_last_words.store(1, std::memory_order_release);
#ifdef HOST_THREAD_TSAN
    ::syscall(SYS_set_tid_address, &record.m_gone);
#endif
    clear_thread_specific_data();
    exit_kernel_thread();
}

void on_stop_signal(int) {
    thread_object* record = t_record;
    if (record == nullptr)
        return;  // not a thread of ours: nobody asked for its stop
    if (stop_guard::active()) {
        stop_guard::defer();  // inside a host region: end as it closes
        return;
    }
    end_stopped_thread(*record);
}

void on_deferred_stop() {
    if (thread_object* record = t_record)
        end_stopped_thread(*record);
}

void install_stop_signal() {
    static std::once_flag once;
    std::call_once(once, [] {
        stop_guard::set_deferred_stop_handler(on_deferred_stop);
        struct sigaction action {};
        action.sa_handler = on_stop_signal;
        sigfillset(&action.sa_mask);
#ifndef HOST_THREAD_TSAN
        // A deferred stop returns from the handler; the interrupted host call
        // then carries on as if nothing had happened.
        action.sa_flags = SA_RESTART;
#else
        // No restart: a blocking call the signal interrupts (read, a futex
        // sleep) must return, so that the thread reaches the point where the
        // sanitizer runs the held handler. A deferred stop may thus see a
        // host call return EINTR; the host's futex waits take that for a
        // spurious wake-up.
        action.sa_flags = 0;
#endif
        ::sigaction(stop_signal(), &action, nullptr);
        ::pthread_atfork(nullptr, nullptr, forget_reap_list_in_child);
    });
}

// Waits until the kernel thread of `record`, sent the stop signal, is gone.
void wait_gone(thread_object& record) {
#ifdef HOST_THREAD_TSAN
    // The kernel clears m_gone and wakes it as a shared futex (no private
    // flag on the wake), so the wait must not use the private flag either.
    // The signal is sent again after every pause: one that reached the thread
    // just before it entered a blocking call stays held while the call
    // blocks, and only a new one interrupts the call. (The thread's id is
    // not cleared for the C library, but it could name another thread only if
    // the kernel reused it in the instant since m_gone was read.)
    for (;;) {
        std::uint32_t value = record.m_gone.load(std::memory_order_acquire);
        if (value == 0)
            break;
        timespec pause{0, 10 * 1000 * 1000};
        long rc = ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&record.m_gone), FUTEX_WAIT,
                            value, &pause, nullptr, 0);
        if (rc != 0 && errno == ETIMEDOUT && record.m_gone.load(std::memory_order_acquire) != 0)
            ::pthread_kill(record.m_pthread, stop_signal());
    }
    // The stack stays mapped: the C library never learns the thread is gone.
    ::pthread_detach(record.m_pthread);
#else
    ::pthread_join(record.m_pthread, nullptr);
#endif
    (void)record.m_last_words.load(std::memory_order_acquire);
}

// Marks the thread ended with `code` and releases its waiters.
void signal_ended(thread_object& record, DWORD code) {
    {
        object_lock lock(record);
        record.m_ended = true;
        record.m_exit_code = code;
        lock.notify();
    }
    record.m_ended_word.store(1, std::memory_order_release);
    futex::wake(record.m_ended_word, INT32_MAX);
}

void wait_ended(thread_object& record) {
    while (record.m_ended_word.load(std::memory_order_acquire) == 0)
        futex::wait(record.m_ended_word, 0, nullptr);
}

// Ends the calling thread, made by CreateThread, by force: TerminateThread on
// its own handle, or ExitThread.
[[noreturn]] void end_self(thread_object& self, DWORD code) {
    bool other_stopper = false;
    {
        object_lock lock(self);
        other_stopper = self.m_state == run_state::stopping;
        self.m_state = run_state::stopping;
    }
    if (other_stopper)
        end_stopped_thread(self);  // another thread stops us and waits for us to go
    // Withdraws nothing (no wait is in progress) and abandons owned mutexes.
    thread_ended(*self.m_wait_state);
    retain_dead_state(self.m_wait_state);
    signal_ended(self, code);
    t_record = nullptr;
#ifdef HOST_THREAD_TSAN
    ::pthread_detach(::pthread_self());
#else
    {
        std::lock_guard<std::mutex> lock(reap_mutex());
        reap_list().push_back(::pthread_self());
    }
#endif
    std::shared_ptr<thread_object> keep = std::move(self.m_self);
    keep.reset();  // may destroy the object: nothing of it is used below
    clear_thread_specific_data();
    exit_kernel_thread();
}

// ---- Priorities -----------------------------------------------------------------------

// The nice offset of each level; false for a value that is not a level.
bool level_offset(int level, int& offset) {
    switch (level) {
        case THREAD_PRIORITY_IDLE:
            offset = 0;  // a policy, not a nice value
            return true;
        case THREAD_PRIORITY_LOWEST:
            offset = 10;
            return true;
        case THREAD_PRIORITY_BELOW_NORMAL:
            offset = 5;
            return true;
        case THREAD_PRIORITY_NORMAL:
            offset = 0;
            return true;
        case THREAD_PRIORITY_ABOVE_NORMAL:
            offset = -5;
            return true;
        case THREAD_PRIORITY_HIGHEST:
            offset = -10;
            return true;
        case THREAD_PRIORITY_TIME_CRITICAL:
            offset = -20;
            return true;
        default:
            return false;
    }
}

// Under the object's lock, while the thread runs (so its id is still its own).
// Refusals are swallowed; see the header.
void apply_priority(thread_object& record, int level, int offset) {
    pid_t tid = static_cast<pid_t>(record.m_tid);
    sched_param param{};
    param.sched_priority = 0;
    if (level == THREAD_PRIORITY_IDLE) {
        if (::sched_setscheduler(tid, SCHED_IDLE, &param) == 0)
            record.m_idle_policy = true;
        return;
    }
    if (record.m_idle_policy) {
        if (::sched_setscheduler(tid, SCHED_OTHER, &param) != 0)
            return;
        record.m_idle_policy = false;
    }
    int nice = std::clamp(record.m_base_nice + offset, -20, 19);
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

// ---- The thread's own life ------------------------------------------------------------------

// After the start routine has returned.
void finish(thread_object& record, DWORD code) {
    bool stopped = false;
    {
        object_lock lock(record);
        if (record.m_state == run_state::running)
            record.m_state = run_state::exiting;
        else
            stopped = true;
    }
    if (stopped)
        end_stopped_thread(record);  // a stopper won; it waits for us
    // Abandon what the thread still owns before its handle is signalled, so
    // that a waiter on the handle finds the mutexes already given up.
    thread_ended(*record.m_wait_state);
    signal_ended(record, code);
    ::pthread_detach(::pthread_self());
    t_record = nullptr;
    std::shared_ptr<thread_object> keep = std::move(record.m_self);
    keep.reset();  // may destroy the object
}

void* thread_main(void* parameter) {
    thread_object& record = *static_cast<thread_object*>(parameter);
    t_record = &record;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, stop_signal());
    ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);

    record.m_tid = fetch_current_thread_id();
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, 0);
    record.m_base_nice = errno == 0 ? nice : 0;
    record.m_idle_policy = ::sched_getscheduler(0) == SCHED_IDLE;
    record.m_wait_state = current_thread_state_ptr();
    if (record.m_id_out != nullptr)
        *record.m_id_out = record.m_tid;
    record.m_id_out = nullptr;
    record.m_started.store(1, std::memory_order_release);
    futex::wake(record.m_started, 1);

    // A start routine that leaves by pthread_exit (or cancellation) unwinds
    // through here; its thread must still end the way a return would.
    struct unwind_guard {
        thread_object& record;
        bool returned = false;
        ~unwind_guard() {
            if (!returned)
                finish(record, 0);
        }
    } guard{record};
    DWORD code = record.m_start(record.m_parameter);
    guard.returned = true;
    finish(record, code);
    return nullptr;
}

constexpr SIZE_T kMinimumStack = 64 * 1024;

}  // namespace
}  // namespace host

// ---- Entry points ---------------------------------------------------------------------------

DWORD GetCurrentThreadId() {
    return host::current_thread_id();
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId) {
    using namespace host;
    if (start == nullptr || (flags & ~STACK_SIZE_PARAM_IS_A_RESERVATION) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    install_stop_signal();
    reap_self_stopped();

    auto record = std::make_shared<thread_object>();
    record->m_start = start;
    record->m_parameter = parameter;
    record->m_id_out = threadId;
    record->m_process = ::getpid();
    HANDLE handle = handle_insert(record);
    if (handle == nullptr)
        return nullptr;  // ERROR_NOT_ENOUGH_MEMORY already set

    pthread_attr_t attributes;
    ::pthread_attr_init(&attributes);
    if (stackSize != 0) {
        SIZE_T page = static_cast<SIZE_T>(::sysconf(_SC_PAGESIZE));
        SIZE_T size = std::max(stackSize, kMinimumStack);
        if (size > SIZE_MAX - page) {
            size = 0;  // beyond any possible stack: let the creation fail below
        } else {
            size = (size + page - 1) / page * page;
        }
        if (size == 0 || ::pthread_attr_setstacksize(&attributes, size) != 0) {
            ::pthread_attr_destroy(&attributes);
            handle_close(handle);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    record->m_self = record;
    int rc = ::pthread_create(&record->m_pthread, &attributes, thread_main, record.get());
    ::pthread_attr_destroy(&attributes);
    if (rc != 0) {
        record->m_self.reset();
        handle_close(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The thread reports in after it has written its id: waiting here makes
    // the id known before this call returns.
    while (record->m_started.load(std::memory_order_acquire) == 0)
        futex::wait(record->m_started, 0, nullptr);
    return handle;
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    using namespace host;
    std::shared_ptr<thread_object> record = handle_lookup_as<thread_object>(thread);
    if (!record)
        return FALSE;
    if (record.get() == t_record) {
        thread_object& self = *record;
        record.reset();  // a reference on this stack would never be dropped
        end_self(self, exitCode);
    }
    if (record->m_process != ::getpid())
        return TRUE;  // inherited across fork: the thread does not exist here

    bool stopper = false;
    bool other_stopper = false;
    {
        object_lock lock(*record);
        if (record->m_state == run_state::running) {
            record->m_state = run_state::stopping;
            stopper = true;
        } else if (record->m_state == run_state::stopping) {
            other_stopper = true;
        }
    }
    if (other_stopper) {
        wait_ended(*record);
        return TRUE;
    }
    if (!stopper)
        return TRUE;  // it has returned from its work and is ending by itself

    ::pthread_kill(record->m_pthread, stop_signal());
    wait_gone(*record);
    // Withdraw the wait it may have been in and abandon the mutexes it owned.
    thread_ended(*record->m_wait_state);
    retain_dead_state(record->m_wait_state);
    signal_ended(*record, exitCode);
    record->m_self.reset();
    return TRUE;
}

void ExitThread(DWORD exitCode) {
    using namespace host;
    if (thread_object* self = t_record)
        end_self(*self, exitCode);
    // A thread of someone else's making: no handle to signal, but its mutexes
    // are abandoned and its wait state kept, as for any forced end.
    std::shared_ptr<thread_state> state = current_thread_state_ptr();
    thread_ended(*state);
    retain_dead_state(std::move(state));
    clear_thread_specific_data();
    exit_kernel_thread();
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    using namespace host;
    std::shared_ptr<thread_object> record = handle_lookup_as<thread_object>(thread);
    if (!record)
        return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    object_lock lock(*record);
    *exitCode = record->m_ended ? record->m_exit_code : STILL_ACTIVE;
    return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    using namespace host;
    std::shared_ptr<thread_object> record = handle_lookup_as<thread_object>(thread);
    if (!record)
        return FALSE;
    int offset = 0;
    if (!level_offset(priority, offset)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool same_process = record->m_process == ::getpid();
    object_lock lock(*record);
    record->m_priority = priority;
    // Only while the thread itself decides its end is its id surely its own:
    // an exiting or stopped thread's id may already belong to another.
    if (record->m_state == run_state::running && same_process)
        apply_priority(*record, priority, offset);
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    using namespace host;
    std::shared_ptr<thread_object> record = handle_lookup_as<thread_object>(thread);
    if (!record)
        return THREAD_PRIORITY_ERROR_RETURN;
    object_lock lock(*record);
    return record->m_priority;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        ::sched_yield();
        return;
    }
    // nanosleep rather than clock_nanosleep: the thread sanitizer delivers a
    // stop signal inside the former but not the latter.
    if (milliseconds == INFINITE) {
        for (;;) {
            timespec hour{3600, 0};
            ::nanosleep(&hour, nullptr);
        }
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

namespace host {
namespace {

// After fork the child's only thread has a new id, but it inherited the
// parent thread's cached one; forget it so that the next call asks again.
void forget_id_in_child() {
    t_current_thread_id = 0;
}

const int g_atfork_registered = ::pthread_atfork(nullptr, nullptr, forget_id_in_child);

}  // namespace
}  // namespace host
