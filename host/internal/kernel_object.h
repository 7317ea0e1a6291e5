// Kernel objects: the waitable objects behind HANDLE values, the per-thread
// wait state, and the wait engine behind WaitForSingleObject and
// WaitForMultipleObjects. Internal to libkeshost; callers use host/sync.h.
//
// Adding a kind of waitable object (another .cpp of the host layer can do it
// without touching this file or sync.cpp):
//
//   class widget_object final : public host::kernel_object {
//   public:
//       static const host::object_kind kind_tag;     // one per kind
//       widget_object() : kernel_object(kind_tag) {}
//       bool is_signalled(const host::thread_state&) const override { return m_done; }
//       bool acquire(host::thread_state&) override { return false; }  // nothing consumed
//       bool m_done = false;  // guarded by the object's lock
//   };
//   const host::object_kind widget_object::kind_tag{"widget"};
//
//   HANDLE h = host::handle_insert(std::make_shared<widget_object>());
//   ...
//   auto w = host::handle_lookup_as<widget_object>(h);   // null: not a widget
//   {
//       host::object_lock lock(*w);   // the object's lock
//       w->m_done = true;
//       lock.notify();                // hand the object to its waiters
//   }                                 // unlocks, then wakes them
//
// The rules an implementation keeps:
//  - Its state is read and changed only under its `object_lock`.
//  - `is_signalled(waiter)` says whether a wait by `waiter` would be
//    satisfied now; `acquire(waiter)` is then called at once, under the same
//    hold, and consumes whatever a satisfied wait consumes (a count, an
//    auto-reset state, ownership). It returns true when the wait must report
//    WAIT_ABANDONED. Neither may block, throw, call user code or take another
//    object's lock.
//  - After any change that may make the object signalled, call
//    `object_lock::notify()` before releasing the lock. It walks the waiters in
//    arrival order and acquires the object on behalf of each wait-any waiter
//    while it stays signalled (so a hand-off can never be lost between the
//    signal and the waiter's wake-up), and prompts wait-all waiters to check
//    all their objects again. The futex wakes happen after the unlock.
//  - An object that a thread can own (a mutex) registers itself with
//    `thread_state::add_owned` when acquired and leaves with `remove_owned`
//    when given up; when the owner ends, `owner_ended` is called under the
//    object's lock so that the object can mark itself abandoned and notify.
//
// Waits. A wait registers one `wait_link` per object in the object's list and
// sleeps on the thread's own futex word. A waker that satisfies a wait-any
// waiter claims it first (an atomic compare-and-swap on the waiter's result),
// so of several objects signalled at once exactly one is consumed. A wait-all
// waiter is never satisfied by a waker: it locks all its objects (in address
// order, so that two wait-all waiters cannot deadlock) and consumes them only
// when every one is signalled at the same moment.
//
// Lifetimes. The handle table (handle_table.h) holds one reference per open handle; a wait
// holds its own reference to each object for its whole duration, so closing a
// handle during a wait never frees an object with registered waiters. A
// thread's wait state lives as long as the thread (and as long as anyone
// holds a reference to it, e.g. a waker between its unlock and its futex
// wake).
//
// Forced thread stop (for the thread module). A thread stopped without its
// cooperation must not die inside the host's short internal critical regions
// (an object's lock, a handle-table slot), or the object would stay locked for
// ever. Those regions run under a `stop_guard`; the stop signal's handler asks
// `stop_guard::active()` and, when true, calls `stop_guard::defer()` and
// returns; the outermost guard then runs the handler installed with
// `stop_guard::set_deferred_stop_handler` as it ends. A wait's sleep is outside
// every guard, so a waiting thread can be stopped at once; after such a thread
// is gone, its stopper calls `thread_ended(state)` (state from
// `current_thread_state_ptr()`, taken on the thread earlier) to withdraw its
// wait and abandon the mutexes it owned.
#pragma once

#include <host/types.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace host {

class kernel_object;
class object_lock;
class thread_state;

// ---- Forced-stop deferral ------------------------------------------------------

namespace detail {
// Nesting depth of stop guards and the pending-stop flag of the calling thread;
// written by the thread and read by its own signal handler only.
extern __thread volatile std::sig_atomic_t t_stop_guard_depth
    __attribute__((tls_model("initial-exec")));
extern __thread volatile std::sig_atomic_t t_stop_pending
    __attribute__((tls_model("initial-exec")));
void run_deferred_stop();
}  // namespace detail

// Marks a region that a forced stop must not interrupt. Nestable; cheap (two
// thread-local writes).
class stop_guard {
  public:
    stop_guard() noexcept {
        detail::t_stop_guard_depth = detail::t_stop_guard_depth + 1;
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    ~stop_guard() {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        detail::t_stop_guard_depth = detail::t_stop_guard_depth - 1;
        if (detail::t_stop_guard_depth == 0 && detail::t_stop_pending)
            detail::run_deferred_stop();
    }
    stop_guard(const stop_guard&) = delete;
    stop_guard& operator=(const stop_guard&) = delete;

    // Async-signal-safe: whether the calling thread is inside a guard.
    static bool active() noexcept { return detail::t_stop_guard_depth != 0; }
    // Async-signal-safe: asks the outermost guard to run the deferred-stop
    // handler when it ends.
    static void defer() noexcept { detail::t_stop_pending = 1; }
    // Installs the function that performs a deferred stop (it does not return).
    static void set_deferred_stop_handler(void (*handler)());
};

// ---- Object kinds -------------------------------------------------------------

// Identifies a kind of kernel object: one static instance per kind, compared
// by address, so that a handle can be checked for its kind without RTTI.
struct object_kind {
    const char* name;
};

// One object in one waiter's wait. Guarded by the lock of the object it is
// registered with.
struct wait_link {
    thread_state* waiter = nullptr;
    DWORD index = 0;  // the object's position in the waiter's handle array
    bool linked = false;
    wait_link* prev = nullptr;
    wait_link* next = nullptr;
};

// ---- Kernel object base -------------------------------------------------------

class kernel_object : public std::enable_shared_from_this<kernel_object> {
  public:
    virtual ~kernel_object();
    kernel_object(const kernel_object&) = delete;
    kernel_object& operator=(const kernel_object&) = delete;

    const object_kind& kind() const { return *m_kind; }
    template <class T>
    bool is() const {
        return m_kind == &T::kind_tag;
    }

    // Under the object's lock: whether a wait by `waiter` is satisfied now.
    virtual bool is_signalled(const thread_state& waiter) const = 0;
    // Under the object's lock, right after is_signalled(waiter) was true:
    // consumes the signal for `waiter`; true means "report WAIT_ABANDONED".
    virtual bool acquire(thread_state& waiter) = 0;
    // Under the object's lock: `owner`, which registered this object with
    // add_owned, has ended.
    virtual void owner_ended(thread_state& owner, object_lock& lock);

    // Diagnostics: the number of threads currently registered as waiting.
    std::size_t waiter_count();

  protected:
    explicit kernel_object(const object_kind& kind) : m_kind(&kind) {}

  private:
    friend class object_lock;
    friend struct wait_engine;
    friend void thread_ended(thread_state& state);

    void link(wait_link& link);    // appends; caller holds m_mutex
    void unlink(wait_link& link);  // caller holds m_mutex

    const object_kind* const m_kind;
    std::mutex m_mutex;
    wait_link* m_first = nullptr;  // guarded by m_mutex: the waiters, in arrival order
    wait_link* m_last = nullptr;   // guarded by m_mutex
};

// Holds an object's lock (and a stop guard) for changing its state; collects
// the waiters that notify() released and wakes them after unlocking.
class object_lock {
  public:
    explicit object_lock(kernel_object& object);
    ~object_lock();
    object_lock(const object_lock&) = delete;
    object_lock& operator=(const object_lock&) = delete;

    // Hands the object to its waiters while it stays signalled (see the file
    // comment). Call after every change that may signal the object.
    void notify();

  private:
    void add_wake(thread_state& waiter);

    stop_guard m_guard;  // first member: ends last, after the wakes
    kernel_object& m_object;
    std::unique_lock<std::mutex> m_lock;
    static constexpr std::size_t kInlineWakes = 4;
    std::shared_ptr<thread_state> m_wakes[kInlineWakes];
    std::size_t m_wake_count = 0;
    std::vector<std::shared_ptr<thread_state>> m_more_wakes;
};

// ---- Per-thread state ----------------------------------------------------------

// One per thread that waits or owns an object, created on first need.
class thread_state : public std::enable_shared_from_this<thread_state> {
  public:
    explicit thread_state(DWORD thread_id) : m_thread_id(thread_id) {}
    thread_state(const thread_state&) = delete;
    thread_state& operator=(const thread_state&) = delete;

    DWORD thread_id() const { return m_thread_id; }

    // Objects this thread owns (mutexes); see owner_ended. Callable under the
    // object's lock.
    void add_owned(std::shared_ptr<kernel_object> object);
    void remove_owned(const kernel_object* object);

  private:
    friend class object_lock;
    friend struct wait_engine;
    friend void thread_ended(thread_state& state);
    friend DWORD wait_for_objects(DWORD, const HANDLE*, bool, DWORD);

    const DWORD m_thread_id;

    // The wait in progress. The waiting thread writes m_wait_all, m_count and
    // m_objects before publishing its links under the objects' locks; wakers
    // read them only through a registered link.
    std::atomic<std::uint32_t> m_wake{0};  // futex word: 1 when woken
    std::atomic<int> m_result{-1};         // wait_engine's state codes or result
    bool m_wait_all = false;
    DWORD m_count = 0;
    std::shared_ptr<kernel_object> m_objects[MAXIMUM_WAIT_OBJECTS];
    wait_link m_links[MAXIMUM_WAIT_OBJECTS];

    std::mutex m_owned_mutex;
    std::vector<std::shared_ptr<kernel_object>> m_owned;  // guarded by m_owned_mutex
};

// The calling thread's state, created on first use and kept until the thread
// ends (its thread-local holder then calls thread_ended).
thread_state& current_thread_state();
std::shared_ptr<thread_state> current_thread_state_ptr();

// Withdraws the thread's wait, if one is registered, and abandons every object
// it owns. Called at normal thread exit; for a thread stopped by force, its
// stopper calls it once the thread is gone. Idempotent.
void thread_ended(thread_state& state);

// ---- Waits ----------------------------------------------------------------------

// The engine behind WaitForSingleObject/WaitForMultipleObjects: returns
// WAIT_OBJECT_0 + i, WAIT_ABANDONED_0 + i, WAIT_TIMEOUT, or WAIT_FAILED with the
// last error set (ERROR_INVALID_PARAMETER for a bad count, a null array or a
// handle given twice; ERROR_INVALID_HANDLE for a handle that is not open).
DWORD wait_for_objects(DWORD count, const HANDLE* handles, bool wait_all, DWORD milliseconds);

}  // namespace host
