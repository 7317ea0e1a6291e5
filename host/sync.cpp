#include <host/sync.h>

#include <host/error.h>
#include <host/internal/handle_table.h>
#include <host/internal/kernel_object.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace host {
namespace {

// ---- The three object kinds ------------------------------------------------------

class mutex_object final : public kernel_object {
  public:
    static const object_kind kind_tag;
    mutex_object() : kernel_object(kind_tag) {}

    bool is_signalled(const thread_state& waiter) const override {
        return !m_owner || m_owner.get() == &waiter;
    }
    bool acquire(thread_state& waiter) override {
        if (m_owner.get() == &waiter) {
            ++m_recursion;
            return false;
        }
        m_owner = waiter.shared_from_this();
        m_recursion = 1;
        waiter.add_owned(shared_from_this());
        bool abandoned = m_abandoned;
        m_abandoned = false;
        return abandoned;
    }
    void owner_ended(thread_state& owner, object_lock& lock) override {
        if (m_owner.get() != &owner)
            return;
        m_owner.reset();
        m_recursion = 0;
        m_abandoned = true;
        lock.notify();
    }
    // Under the object's lock: one release by `caller`; false if not the owner.
    bool release(thread_state* caller, object_lock& lock) {
        if (caller == nullptr || m_owner.get() != caller)
            return false;
        if (--m_recursion != 0)
            return true;
        m_owner.reset();
        caller->remove_owned(this);
        lock.notify();
        return true;
    }

  private:
    // All guarded by the object's lock. A reference, not a raw pointer: a
    // thread's state must not be mistaken for a new thread's at the same
    // address while the mutex still names it.
    std::shared_ptr<thread_state> m_owner;
    std::uint32_t m_recursion = 0;
    bool m_abandoned = false;  // the last owner ended while owning
};
const object_kind mutex_object::kind_tag{"mutex"};

class semaphore_object final : public kernel_object {
  public:
    static const object_kind kind_tag;
    semaphore_object(LONG count, LONG maximum)
        : kernel_object(kind_tag), m_count(count), m_maximum(maximum) {}

    bool is_signalled(const thread_state&) const override { return m_count > 0; }
    bool acquire(thread_state&) override {
        --m_count;
        return false;
    }
    // Under the object's lock. No partial release: all or nothing.
    DWORD release(LONG amount, LONG* previous, object_lock& lock) {
        if (static_cast<std::int64_t>(m_count) + amount > m_maximum)
            return ERROR_TOO_MANY_POSTS;
        if (previous != nullptr)
            *previous = m_count;
        m_count += amount;
        lock.notify();
        return ERROR_SUCCESS;
    }

  private:
    LONG m_count;          // guarded by the object's lock; 0..m_maximum
    const LONG m_maximum;  // > 0
};
const object_kind semaphore_object::kind_tag{"semaphore"};

class event_object final : public kernel_object {
  public:
    static const object_kind kind_tag;
    event_object(bool manual, bool signalled)
        : kernel_object(kind_tag), m_manual(manual), m_signalled(signalled) {}

    bool is_signalled(const thread_state&) const override { return m_signalled; }
    bool acquire(thread_state&) override {
        if (!m_manual)
            m_signalled = false;
        return false;
    }
    void set(object_lock& lock) {
        m_signalled = true;
        lock.notify();
    }
    void reset() { m_signalled = false; }
    // The waiters registered now are exactly those waiting at this instant:
    // notify() hands the signal to them (all for manual reset, the first for
    // auto reset, which resets on that hand-off), and no other thread can
    // start waiting before the reset because each must take this lock first.
    void pulse(object_lock& lock) {
        set(lock);
        reset();
    }

  private:
    const bool m_manual;
    bool m_signalled;  // guarded by the object's lock
};
const object_kind event_object::kind_tag{"event"};

// ---- Names ---------------------------------------------------------------------------

// Objects created with a name, by name. Entries whose object is gone are
// pruned when the name is reused and in a sweep whenever the map has doubled
// since the last one, so the map stays proportional to the live named objects.
struct name_table {
    std::mutex mutex;
    std::map<wstring, std::weak_ptr<kernel_object>> objects;  // guarded by mutex
    std::size_t sweep_at = 64;                                // guarded by mutex

    void sweep() {
        for (auto it = objects.begin(); it != objects.end();)
            it = it->second.expired() ? objects.erase(it) : std::next(it);
        sweep_at = objects.size() * 2 + 64;
    }
};

name_table& the_names() {
    static name_table* const instance = new name_table;  // outlives every static user
    return *instance;
}

template <class T, class Make>
HANDLE create_object(LPCWSTR name, Make make) {
    if (name == nullptr || name[0] == 0) {
        HANDLE handle = handle_insert(make());
        if (handle != nullptr)
            SetLastError(ERROR_SUCCESS);
        return handle;
    }
    name_table& names = the_names();
    std::lock_guard<std::mutex> lock(names.mutex);
    std::weak_ptr<kernel_object>& entry = names.objects[wstring(name)];
    if (std::shared_ptr<kernel_object> existing = entry.lock()) {
        if (!existing->is<T>()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        HANDLE handle = handle_insert(std::move(existing));
        if (handle != nullptr)
            SetLastError(ERROR_ALREADY_EXISTS);
        return handle;
    }
    std::shared_ptr<kernel_object> fresh = make();
    entry = fresh;
    HANDLE handle = handle_insert(std::move(fresh));
    if (handle != nullptr)
        SetLastError(ERROR_SUCCESS);
    if (names.objects.size() >= names.sweep_at)
        names.sweep();
    return handle;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace
}  // namespace host

using host::event_object;
using host::mutex_object;
using host::object_lock;
using host::semaphore_object;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    return host::create_object<mutex_object>(name, [initialOwner] {
        auto mutex = std::make_shared<mutex_object>();
        if (initialOwner) {
            object_lock lock(*mutex);
            mutex->acquire(host::current_thread_state());
        }
        return mutex;
    });
}

BOOL ReleaseMutex(HANDLE handle) {
    std::shared_ptr<mutex_object> mutex = host::handle_lookup_as<mutex_object>(handle);
    if (!mutex)
        return FALSE;
    // Release before the lock goes, so that the notify hands the mutex on.
    bool released = false;
    {
        object_lock lock(*mutex);
        released = mutex->release(&host::current_thread_state(), lock);
    }
    return released ? TRUE : host::fail(ERROR_NOT_OWNER);
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCWSTR name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return host::create_object<semaphore_object>(name, [initialCount, maximumCount] {
        return std::make_shared<semaphore_object>(initialCount, maximumCount);
    });
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LPLONG previousCount) {
    std::shared_ptr<semaphore_object> semaphore = host::handle_lookup_as<semaphore_object>(handle);
    if (!semaphore)
        return FALSE;
    if (releaseCount <= 0)
        return host::fail(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    {
        object_lock lock(*semaphore);
        error = semaphore->release(releaseCount, previousCount, lock);
    }
    return error == ERROR_SUCCESS ? TRUE : host::fail(error);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    return host::create_object<event_object>(name, [manualReset, initialState] {
        return std::make_shared<event_object>(manualReset != FALSE, initialState != FALSE);
    });
}

BOOL SetEvent(HANDLE handle) {
    std::shared_ptr<event_object> event = host::handle_lookup_as<event_object>(handle);
    if (!event)
        return FALSE;
    object_lock lock(*event);
    event->set(lock);
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    std::shared_ptr<event_object> event = host::handle_lookup_as<event_object>(handle);
    if (!event)
        return FALSE;
    object_lock lock(*event);
    event->reset();
    return TRUE;
}

BOOL PulseEvent(HANDLE handle) {
    std::shared_ptr<event_object> event = host::handle_lookup_as<event_object>(handle);
    if (!event)
        return FALSE;
    object_lock lock(*event);
    event->pulse(lock);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return host::wait_for_objects(1, &handle, false, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    return host::wait_for_objects(count, handles, waitAll != FALSE, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
    return host::handle_close(handle) ? TRUE : FALSE;
}
