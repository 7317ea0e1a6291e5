#include <host/internal/kernel_object.h>

#include <host/error.h>
#include <host/internal/current_thread.h>
#include <host/internal/futex.h>
#include <host/internal/handle_table.h>

#include <algorithm>
#include <cassert>
#include <ctime>

namespace host {

// ---- Forced-stop deferral ------------------------------------------------------

namespace detail {

__thread volatile std::sig_atomic_t t_stop_guard_depth __attribute__((tls_model("initial-exec"))) =
    0;
__thread volatile std::sig_atomic_t t_stop_pending __attribute__((tls_model("initial-exec"))) = 0;

namespace {
std::atomic<void (*)()> g_deferred_stop_handler{nullptr};
}

void run_deferred_stop() {
    t_stop_pending = 0;
    if (void (*handler)() = g_deferred_stop_handler.load(std::memory_order_acquire))
        handler();
}

}  // namespace detail

void stop_guard::set_deferred_stop_handler(void (*handler)()) {
    detail::g_deferred_stop_handler.store(handler, std::memory_order_release);
}

// ---- Wait state codes ----------------------------------------------------------

namespace {

// thread_state::m_result holds one of these while no result is known, and
// the wait's result (0..63 or 0x80..0xBF) once a waker has claimed the wait.
constexpr int kIdle = -1;       // no wait in progress
constexpr int kWaiting = -2;    // links registered; a waker may claim
constexpr int kClaiming = -3;   // a waker won the claim and is acquiring
constexpr int kTimedOut = -4;   // the waiter withdrew; wakers skip it
constexpr int kCancelled = -5;  // withdrawn for a thread that is gone

// Not a wait result: marks "links registered, go to sleep" inside the engine.
constexpr DWORD kRegistered = 0xFFFFFFFEu;

int result_for(DWORD index, bool abandoned) {
    return static_cast<int>((abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + index);
}

// How long a waiter polls its wake word before it sleeps in the kernel. A
// hand-off between two running threads usually completes within a few
// microseconds; catching it while still on the CPU saves the sleep and the
// wake-up latency. Short enough that a long wait costs almost nothing extra.
constexpr int kSpinRounds = 200;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

// ---- Kernel object ---------------------------------------------------------------

kernel_object::~kernel_object() {
    // Every wait holds a reference to its objects, so none can be registered.
    assert(m_first == nullptr);
}

void kernel_object::owner_ended(thread_state&, object_lock&) {}

std::size_t kernel_object::waiter_count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t count = 0;
    for (wait_link* link = m_first; link != nullptr; link = link->next)
        ++count;
    return count;
}

void kernel_object::link(wait_link& link) {
    link.prev = m_last;
    link.next = nullptr;
    if (m_last != nullptr)
        m_last->next = &link;
    else
        m_first = &link;
    m_last = &link;
    link.linked = true;
}

void kernel_object::unlink(wait_link& link) {
    if (link.prev != nullptr)
        link.prev->next = link.next;
    else
        m_first = link.next;
    if (link.next != nullptr)
        link.next->prev = link.prev;
    else
        m_last = link.prev;
    link.prev = link.next = nullptr;
    link.linked = false;
}

// ---- Object lock and hand-off ------------------------------------------------------

object_lock::object_lock(kernel_object& object) : m_object(object), m_lock(object.m_mutex) {}

object_lock::~object_lock() {
    m_lock.unlock();
    // The wake word was set under the lock; the futex wake only prods a thread
    // that is asleep. The references keep each woken thread's word alive.
    for (std::size_t i = 0; i < m_wake_count; ++i)
        futex::wake(m_wakes[i]->m_wake, 1);
    for (const std::shared_ptr<thread_state>& waiter : m_more_wakes)
        futex::wake(waiter->m_wake, 1);
}

void object_lock::add_wake(thread_state& waiter) {
    if (m_wake_count < kInlineWakes)
        m_wakes[m_wake_count++] = waiter.shared_from_this();
    else
        m_more_wakes.push_back(waiter.shared_from_this());
}

void object_lock::notify() {
    kernel_object& object = m_object;
    wait_link* next = nullptr;
    for (wait_link* link = object.m_first; link != nullptr; link = next) {
        next = link->next;
        thread_state& waiter = *link->waiter;
        if (waiter.m_result.load(std::memory_order_acquire) != kWaiting)
            continue;  // already satisfied elsewhere or withdrawing
        if (!object.is_signalled(waiter))
            continue;
        if (waiter.m_wait_all) {
            // Only the waiter can see all its objects at once; prompt it.
            add_wake(waiter);
            waiter.m_wake.store(1, std::memory_order_release);
            continue;
        }
        int expected = kWaiting;
        if (!waiter.m_result.compare_exchange_strong(expected, kClaiming,
                                                     std::memory_order_acq_rel))
            continue;  // another object's waker got there first
        bool abandoned = object.acquire(waiter);
        waiter.m_result.store(result_for(link->index, abandoned), std::memory_order_relaxed);
        object.unlink(*link);
        // Take the reference for the futex wake first: once the waiter sees
        // the word it may return without this object's lock (its only link
        // is gone) and its thread may end and drop the state.
        add_wake(waiter);
        // Last write to the waiter's wait state: once it sees the word, the
        // waiter owns its state again.
        waiter.m_wake.store(1, std::memory_order_release);
    }
}

// ---- Thread state ----------------------------------------------------------------

void thread_state::add_owned(std::shared_ptr<kernel_object> object) {
    std::lock_guard<std::mutex> lock(m_owned_mutex);
    m_owned.push_back(std::move(object));
}

void thread_state::remove_owned(const kernel_object* object) {
    std::lock_guard<std::mutex> lock(m_owned_mutex);
    auto found = std::find_if(m_owned.begin(), m_owned.end(),
                              [object](const auto& owned) { return owned.get() == object; });
    if (found == m_owned.end())
        return;
    *found = std::move(m_owned.back());
    m_owned.pop_back();
}

namespace {

// Holds the thread's state for the thread's lifetime; its destruction at
// thread exit abandons what the thread still owns.
struct thread_slot {
    std::shared_ptr<thread_state> state;
    ~thread_slot();
};

thread_local thread_slot t_slot;
// Fast access to t_slot.state without the thread_local initialisation check.
__thread thread_state* t_state __attribute__((tls_model("initial-exec"))) = nullptr;

thread_slot::~thread_slot() {
    t_state = nullptr;
    if (state)
        thread_ended(*state);
}

thread_state& create_thread_state() {
    t_slot.state = std::make_shared<thread_state>(current_thread_id());
    t_state = t_slot.state.get();
    return *t_state;
}

}  // namespace

thread_state& current_thread_state() {
    thread_state* state = t_state;
    return state != nullptr ? *state : create_thread_state();
}

std::shared_ptr<thread_state> current_thread_state_ptr() {
    return current_thread_state().shared_from_this();
}

// ---- Wait engine -------------------------------------------------------------------

struct wait_engine {
    thread_state& me;
    const timespec* deadline;  // null: no limit

    // Objects of me in address order, for locking several without deadlock.
    kernel_object* order[MAXIMUM_WAIT_OBJECTS];

    DWORD count() const { return me.m_count; }
    kernel_object& object(DWORD i) const { return *me.m_objects[i]; }

    void sort_objects() {
        for (DWORD i = 0; i < count(); ++i)
            order[i] = me.m_objects[i].get();
        std::sort(order, order + count());
    }
    bool has_duplicates() const {
        return std::adjacent_find(order, order + count()) != order + count();
    }
    void lock_all() {
        for (DWORD i = 0; i < count(); ++i)
            order[i]->m_mutex.lock();
    }
    void unlock_all() {
        for (DWORD i = count(); i > 0; --i)
            order[i - 1]->m_mutex.unlock();
    }

    // Called with the objects' locks held (or, for one object, its lock).
    void register_links(bool wait_all) {
        me.m_wait_all = wait_all;
        me.m_wake.store(0, std::memory_order_relaxed);
        me.m_result.store(kWaiting, std::memory_order_relaxed);
        for (DWORD i = 0; i < count(); ++i) {
            me.m_links[i].waiter = &me;
            me.m_links[i].index = i;
            object(i).link(me.m_links[i]);
        }
    }
    void unlink_all_locked() {
        for (DWORD i = 0; i < count(); ++i)
            if (me.m_links[i].linked)
                object(i).unlink(me.m_links[i]);
    }

    // Leaves the wait state idle and drops the references to the objects.
    DWORD finish(DWORD result) {
        me.m_result.store(kIdle, std::memory_order_relaxed);
        for (DWORD i = 0; i < count(); ++i)
            me.m_objects[i].reset();
        me.m_count = 0;
        return result;
    }

    // Sleeps until the wake word is set; false once the deadline has passed.
    bool sleep() {
        for (int round = 0; round < kSpinRounds; ++round) {
            if (me.m_wake.load(std::memory_order_acquire) != 0)
                return true;
            cpu_relax();
        }
        while (me.m_wake.load(std::memory_order_acquire) == 0) {
            if (!futex::wait(me.m_wake, 0, deadline))
                return me.m_wake.load(std::memory_order_acquire) != 0;
        }
        return true;
    }

    DWORD wait_any_one();
    DWORD wait_any();
    DWORD wait_all();
    DWORD block_any();
};

// One object: the common case, with one lock and no sorting.
DWORD wait_engine::wait_any_one() {
    DWORD result = WAIT_TIMEOUT;
    {
        stop_guard guard;
        kernel_object& only = object(0);
        std::lock_guard<std::mutex> lock(only.m_mutex);
        if (only.is_signalled(me)) {
            result = result_for(0, only.acquire(me));
        } else if (deadline == nullptr || deadline->tv_sec != 0 || deadline->tv_nsec != 0) {
            register_links(false);
            result = kRegistered;
        }
    }
    // finish() may drop the last reference to the object: never under its lock.
    return result == kRegistered ? block_any() : finish(result);
}

DWORD wait_engine::wait_any() {
    {
        stop_guard guard;
        lock_all();
        for (DWORD i = 0; i < count(); ++i) {
            if (object(i).is_signalled(me)) {
                bool abandoned = object(i).acquire(me);
                unlock_all();
                return finish(result_for(i, abandoned));
            }
        }
        if (deadline != nullptr && deadline->tv_sec == 0 && deadline->tv_nsec == 0) {
            unlock_all();
            return finish(WAIT_TIMEOUT);
        }
        register_links(false);
        unlock_all();
    }
    return block_any();
}

// The links are registered; sleep until a waker claims the wait or time runs
// out, then withdraw the remaining links.
DWORD wait_engine::block_any() {
    bool woken = sleep();
    if (!woken) {
        int expected = kWaiting;
        if (!me.m_result.compare_exchange_strong(expected, kTimedOut, std::memory_order_acq_rel)) {
            // A waker claimed the wait as time ran out; the object is ours.
            // Let it finish with our state before we touch it.
            deadline = nullptr;
            sleep();
        }
    }
    int result = me.m_result.load(std::memory_order_relaxed);
    {
        stop_guard guard;
        for (DWORD i = 0; i < count(); ++i) {
            // The claiming waker unlinked its own link before it set the wake
            // word, which we have read; every other link needs its lock.
            if (result >= 0 && i == static_cast<DWORD>(result & 0x3F))
                continue;
            std::lock_guard<std::mutex> lock(object(i).m_mutex);
            if (me.m_links[i].linked)
                object(i).unlink(me.m_links[i]);
        }
    }
    return finish(result >= 0 ? static_cast<DWORD>(result) : WAIT_TIMEOUT);
}

// Nothing is consumed until every object is signalled at one moment, checked
// with all their locks held; a waker only prompts the waiter to look again.
DWORD wait_engine::wait_all() {
    bool timed_out = deadline != nullptr && deadline->tv_sec == 0 && deadline->tv_nsec == 0;
    bool registered = false;
    for (;;) {
        {
            stop_guard guard;
            lock_all();
            bool all = true;
            for (DWORD i = 0; i < count() && all; ++i)
                all = object(i).is_signalled(me);
            if (all || timed_out) {
                int abandoned = -1;
                if (all) {
                    for (DWORD i = 0; i < count(); ++i)
                        if (object(i).acquire(me) && abandoned < 0)
                            abandoned = static_cast<int>(i);
                }
                if (registered)
                    unlink_all_locked();
                unlock_all();
                if (!all)
                    return finish(WAIT_TIMEOUT);
                return finish(abandoned < 0 ? WAIT_OBJECT_0
                                            : WAIT_ABANDONED_0 + static_cast<DWORD>(abandoned));
            }
            if (!registered) {
                register_links(true);
                registered = true;
            }
            // Cleared under every lock, so a signal after this point is seen.
            me.m_wake.store(0, std::memory_order_relaxed);
            unlock_all();
        }
        timed_out = !sleep();
    }
}

void thread_ended(thread_state& state) {
    {
        stop_guard guard;
        int expected = kWaiting;
        if (!state.m_result.compare_exchange_strong(expected, kCancelled,
                                                    std::memory_order_acq_rel) &&
            expected == kClaiming) {
            // A claiming waker finishes with the state before it sets the word.
            while (state.m_wake.load(std::memory_order_acquire) == 0)
                futex::wait(state.m_wake, 0, nullptr);
        }
        // A thread stopped by force may have left a wait anywhere between its
        // first lookup and its last unlink.
        for (DWORD i = 0; i < state.m_count; ++i) {
            if (!state.m_objects[i])
                continue;
            std::lock_guard<std::mutex> lock(state.m_objects[i]->m_mutex);
            if (state.m_links[i].linked)
                state.m_objects[i]->unlink(state.m_links[i]);
        }
        state.m_result.store(kIdle, std::memory_order_relaxed);
        for (DWORD i = 0; i < state.m_count; ++i)
            state.m_objects[i].reset();
        state.m_count = 0;
    }
    std::vector<std::shared_ptr<kernel_object>> owned;
    {
        std::lock_guard<std::mutex> lock(state.m_owned_mutex);
        owned.swap(state.m_owned);
    }
    for (const std::shared_ptr<kernel_object>& object : owned) {
        object_lock lock(*object);
        object->owner_ended(state, lock);
    }
}

namespace {

// Absolute CLOCK_MONOTONIC deadline `milliseconds` from now. A zero timeout is
// marked by an all-zero deadline (which also lies in the past).
timespec deadline_after(DWORD milliseconds) {
    if (milliseconds == 0)
        return timespec{0, 0};
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    now.tv_sec += milliseconds / 1000;
    now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (now.tv_nsec >= 1000000000L) {
        now.tv_sec += 1;
        now.tv_nsec -= 1000000000L;
    }
    return now;
}

DWORD fail(DWORD error) {
    SetLastError(error);
    return WAIT_FAILED;
}

}  // namespace

DWORD wait_for_objects(DWORD count, const HANDLE* handles, bool wait_all, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    thread_state& me = current_thread_state();
    if (me.m_count != 0)
        return fail(ERROR_INVALID_PARAMETER);  // a wait from inside a wait cannot happen
    timespec limit = deadline_after(milliseconds);
    wait_engine engine{me, milliseconds == INFINITE ? nullptr : &limit, {}};
    me.m_count = count;
    for (DWORD i = 0; i < count; ++i) {
        me.m_objects[i] = handle_lookup(handles[i]);
        if (!me.m_objects[i]) {
            engine.finish(0);
            return WAIT_FAILED;  // handle_lookup set ERROR_INVALID_HANDLE
        }
    }
    if (count == 1)
        return engine.wait_any_one();
    engine.sort_objects();
    if (engine.has_duplicates()) {
        engine.finish(0);
        return fail(ERROR_INVALID_PARAMETER);
    }
    return wait_all ? engine.wait_all() : engine.wait_any();
}

}  // namespace host
