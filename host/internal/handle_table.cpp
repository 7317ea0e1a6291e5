#include <host/internal/handle_table.h>

#include <host/error.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace host {
namespace {

// Handle layout (64 bits): generation in the upper 32 bits, (slot + 1) * 4 in
// the lower 32. A handle is never 0 and never INVALID_HANDLE_VALUE (-1), and
// its two low bits are clear, which rejects most garbage before any lookup.
constexpr std::uint32_t kChunkBits = 10;
constexpr std::uint32_t kChunkSize = 1u << kChunkBits;
constexpr std::uint32_t kChunkCount = 1024;
constexpr std::uint32_t kCapacity = kChunkSize * kChunkCount;

struct slot {
    // A tiny lock: held only to copy or swap the reference, a few instructions.
    std::atomic<bool> busy{false};
    std::uint32_t generation = 0;           // guarded by busy; 0 = never issued
    std::shared_ptr<kernel_object> object;  // guarded by busy; null = free

    void lock() {
        for (int spins = 0; busy.exchange(true, std::memory_order_acquire); ++spins) {
            if (spins > 64)
                std::this_thread::yield();
        }
    }
    void unlock() { busy.store(false, std::memory_order_release); }
};

struct chunk {
    slot slots[kChunkSize];
};

// Chunks are created on demand and never freed, so a lookup can read a chunk
// pointer without a lock. The table itself is never destroyed: objects may be
// closed by static destructors of other libraries during exit.
struct table {
    std::atomic<chunk*> chunks[kChunkCount] = {};

    std::mutex free_mutex;
    std::deque<std::uint32_t> free_slots;  // guarded by free_mutex; oldest first
    std::uint32_t next_unused = 0;         // guarded by free_mutex
};

table& the_table() {
    static table* const instance = new table;
    return *instance;
}

HANDLE encode(std::uint32_t index, std::uint32_t generation) {
    std::uint64_t value = (static_cast<std::uint64_t>(generation) << 32) |
                          (static_cast<std::uint64_t>(index + 1) << 2);
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
}

// The slot a handle names, or null when the value cannot be a handle.
slot* decode(HANDLE handle, std::uint32_t* generation) {
    std::uint64_t value = reinterpret_cast<std::uintptr_t>(handle);
    std::uint32_t low = static_cast<std::uint32_t>(value);
    *generation = static_cast<std::uint32_t>(value >> 32);
    if ((low & 3u) != 0 || low == 0 || *generation == 0)
        return nullptr;
    std::uint32_t index = (low >> 2) - 1;
    if (index >= kCapacity)
        return nullptr;
    chunk* c = the_table().chunks[index >> kChunkBits].load(std::memory_order_acquire);
    return c != nullptr ? &c->slots[index & (kChunkSize - 1)] : nullptr;
}

slot& slot_at(std::uint32_t index) {
    return the_table()
        .chunks[index >> kChunkBits]
        .load(std::memory_order_acquire)
        ->slots[index & (kChunkSize - 1)];
}

// A free slot index (its chunk allocated), or false when the table is full.
// Freed slots are reused oldest first, so that a stale handle is unlikely to
// meet its slot's next generation soon; the generation check catches it anyway.
bool take_slot(std::uint32_t* index) {
    table& t = the_table();
    std::lock_guard<std::mutex> lock(t.free_mutex);
    if (!t.free_slots.empty()) {
        *index = t.free_slots.front();
        t.free_slots.pop_front();
        return true;
    }
    if (t.next_unused == kCapacity)
        return false;
    std::uint32_t fresh = t.next_unused;
    std::atomic<chunk*>& c = t.chunks[fresh >> kChunkBits];
    if (c.load(std::memory_order_relaxed) == nullptr)
        c.store(new chunk, std::memory_order_release);
    ++t.next_unused;
    *index = fresh;
    return true;
}

void give_back_slot(std::uint32_t index) {
    table& t = the_table();
    std::lock_guard<std::mutex> lock(t.free_mutex);
    t.free_slots.push_back(index);
}

}  // namespace

HANDLE handle_insert(std::shared_ptr<kernel_object> object) {
    std::uint32_t index = 0;
    if (!object || !take_slot(&index)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    stop_guard guard;
    slot& s = slot_at(index);
    s.lock();
    // Generation 0 never names a handle; skip it when the counter wraps.
    if (++s.generation == 0)
        s.generation = 1;
    std::uint32_t generation = s.generation;
    s.object = std::move(object);
    s.unlock();
    return encode(index, generation);
}

std::shared_ptr<kernel_object> handle_lookup(HANDLE handle) {
    std::uint32_t generation = 0;
    slot* s = decode(handle, &generation);
    std::shared_ptr<kernel_object> object;
    if (s != nullptr) {
        stop_guard guard;
        s->lock();
        if (s->generation == generation)
            object = s->object;
        s->unlock();
    }
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

bool handle_close(HANDLE handle) {
    std::uint32_t generation = 0;
    slot* s = decode(handle, &generation);
    std::shared_ptr<kernel_object> object;
    if (s != nullptr) {
        stop_guard guard;
        s->lock();
        if (s->generation == generation && s->object)
            object = std::move(s->object);
        s->unlock();
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    std::uint64_t value = reinterpret_cast<std::uintptr_t>(handle);
    give_back_slot((static_cast<std::uint32_t>(value) >> 2) - 1);
    // The object itself goes when its last reference does (possibly here,
    // outside every lock).
    return true;
}

std::size_t debug_waiter_count(HANDLE handle) {
    std::shared_ptr<kernel_object> object = handle_lookup(handle);
    return object ? object->waiter_count() : 0;
}

}  // namespace host
