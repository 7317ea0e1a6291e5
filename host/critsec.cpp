#include <host/critsec.h>

#include <host/internal/current_thread.h>
#include <host/internal/futex.h>

namespace {

constexpr std::uint32_t kFree = 0;
constexpr std::uint32_t kOwned = 1;
constexpr std::uint32_t kContended = 2;  // owned, and someone may sleep on the word

// A holder usually leaves within a few hundred cycles; spinning that long is
// cheaper than a sleep and a wake.
constexpr int kSpinRounds = 100;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

inline void take_ownership(CRITICAL_SECTION* section, DWORD self) {
    // Relaxed is enough: only the owner ever finds its own id here, and the
    // lock word's acquire orders everything else.
    section->OwningThread.store(self, std::memory_order_relaxed);
    section->RecursionCount = 1;
}

// The lock word protocol is the classic three-state futex mutex: a waiter
// marks the word contended before it sleeps, so the releaser knows whether it
// must make the wake system call.
//
// The slow paths below are kept out of line and reached by tail calls, so
// that the fast paths of Enter and Leave need no stack frame: an uncontended
// enter and leave then cost little more than their two atomic instructions.
__attribute__((noinline)) void lock_slow(CRITICAL_SECTION* section, DWORD self) {
    std::atomic<std::uint32_t>& word = section->LockWord;
    for (int round = 0; round < kSpinRounds; ++round) {
        std::uint32_t state = word.load(std::memory_order_relaxed);
        if (state == kFree && word.compare_exchange_weak(state, kOwned, std::memory_order_acquire,
                                                         std::memory_order_relaxed)) {
            take_ownership(section, self);
            return;
        }
        if (state == kContended)
            break;  // others already sleep; join them
        cpu_relax();
    }
    while (word.exchange(kContended, std::memory_order_acquire) != kFree)
        host::futex::wait(word, kContended, nullptr);
    take_ownership(section, self);
}

__attribute__((noinline)) void wake_one(CRITICAL_SECTION* section) {
    host::futex::wake(section->LockWord, 1);
}

// First use of a section on a thread whose id is not cached yet.
__attribute__((noinline)) void enter_fetching_id(CRITICAL_SECTION* section) {
    host::fetch_current_thread_id();
    EnterCriticalSection(section);
}

__attribute__((noinline)) void leave_fetching_id(CRITICAL_SECTION* section) {
    host::fetch_current_thread_id();
    LeaveCriticalSection(section);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->LockWord.store(kFree, std::memory_order_relaxed);
    section->OwningThread.store(0, std::memory_order_relaxed);
    section->RecursionCount = 0;
    section->Reserved = 0;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = host::t_current_thread_id;
    if (__builtin_expect(self == 0, 0))
        return enter_fetching_id(section);
    if (section->OwningThread.load(std::memory_order_relaxed) == self) {
        ++section->RecursionCount;
        return;
    }
    std::uint32_t expected = kFree;
    if (__builtin_expect(
            !section->LockWord.compare_exchange_strong(expected, kOwned, std::memory_order_acquire,
                                                       std::memory_order_relaxed),
            0))
        return lock_slow(section, self);
    take_ownership(section, self);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = host::current_thread_id();
    if (section->OwningThread.load(std::memory_order_relaxed) == self) {
        ++section->RecursionCount;
        return TRUE;
    }
    std::uint32_t expected = kFree;
    if (!section->LockWord.compare_exchange_strong(expected, kOwned, std::memory_order_acquire,
                                                   std::memory_order_relaxed))
        return FALSE;
    take_ownership(section, self);
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = host::t_current_thread_id;
    if (__builtin_expect(self == 0, 0))
        return leave_fetching_id(section);
    if (section->OwningThread.load(std::memory_order_relaxed) != self)
        return;  // not the owner: ignore rather than corrupt the section
    if (--section->RecursionCount != 0)
        return;
    section->OwningThread.store(0, std::memory_order_relaxed);
    if (__builtin_expect(section->LockWord.exchange(kFree, std::memory_order_release) == kContended,
                         0))
        wake_one(section);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    InitializeCriticalSection(section);
}
