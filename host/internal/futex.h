// Thin wrappers over the Linux futex system call, for the host's kernel
// objects and critical section. Internal.
//
// A futex word is a `std::atomic<std::uint32_t>`: every read and write of it in
// C++ goes through the atomic (so the sanitizers see the synchronisation),
// and only the sleeping and waking go to the kernel. All waits here are
// private to the process and may return spuriously; callers loop on their own
// condition.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace host {
namespace futex {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "a futex word is a plain 32-bit integer underneath");

inline std::uint32_t* address(std::atomic<std::uint32_t>& word) {
    return reinterpret_cast<std::uint32_t*>(&word);
}

// Sleeps while `word` holds `expected`, until woken, interrupted or, when
// `deadline` is not null, until that absolute CLOCK_MONOTONIC time. Returns
// false only when the deadline has passed.
inline bool wait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                 const timespec* deadline) {
    long rc = ::syscall(SYS_futex, address(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected,
                        deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    return rc == 0 || errno != ETIMEDOUT;
}

// Wakes up to `count` threads sleeping on `word`.
inline void wake(std::atomic<std::uint32_t>& word, int count) {
    ::syscall(SYS_futex, address(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, count, nullptr, nullptr,
              0);
}

}  // namespace futex
}  // namespace host
