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

// The lock word protocol is the classic three-state futex mutex: a waiter
// marks the word contended before it sleeps, so the releaser knows whether it
// must make the wake system call.
void lock_slow(CRITICAL_SECTION* section) {
    std::atomic<std::uint32_t>& word = section->LockWord;
    for (int round = 0; round < kSpinRounds; ++round) {
        std::uint32_t state = word.load(std::memory_order_relaxed);
        if (state == kFree &&
            word.compare_exchange_weak(state, kOwned, std::memory_order_acquire,
                                       std::memory_order_relaxed))
            return;
        if (state == kContended)
            break;  // others already sleep; join them
        cpu_relax();
    }
    while (word.exchange(kContended, std::memory_order_acquire) != kFree)
        host::futex::wait(word, kContended, nullptr);
}

inline void take_ownership(CRITICAL_SECTION* section, DWORD self) {
    // Relaxed is enough: only the owner ever finds its own id here, and the
    // lock word's acquire orders everything else.
    section->OwningThread.store(self, std::memory_order_relaxed);
    section->RecursionCount = 1;
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->LockWord.store(kFree, std::memory_order_relaxed);
    section->OwningThread.store(0, std::memory_order_relaxed);
    section->RecursionCount = 0;
    section->Reserved = 0;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = host::current_thread_id();
    if (section->OwningThread.load(std::memory_order_relaxed) == self) {
        ++section->RecursionCount;
        return;
    }
    std::uint32_t expected = kFree;
    if (!section->LockWord.compare_exchange_strong(expected, kOwned, std::memory_order_acquire,
                                                   std::memory_order_relaxed))
        lock_slow(section);
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
    if (section->OwningThread.load(std::memory_order_relaxed) != host::current_thread_id())
        return;  // not the owner: ignore rather than corrupt the section
    if (--section->RecursionCount != 0)
        return;
    section->OwningThread.store(0, std::memory_order_relaxed);
    if (section->LockWord.exchange(kFree, std::memory_order_release) == kContended)
        host::futex::wake(section->LockWord, 1);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    InitializeCriticalSection(section);
}
