// The kes kernel-object lockables: re-entrancy, owners, the sync exception,
// events, and exact counts under contention.
#include <host/sync.h>
#include <kes/error/kesexception.h>
#include <kes/sync/kescriticalsection.h>
#include <kes/sync/kesevent.h>
#include <kes/sync/keslock.h>
#include <kes/sync/kesmutex.h>
#include <kes/sync/kessemaphore.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>
#include <vector>

// Fewer iterations under the thread sanitizer, which slows locking ~50-fold.
#if defined(__SANITIZE_THREAD__)
#define KES_SYNC_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KES_SYNC_TSAN 1
#endif
#endif
#ifdef KES_SYNC_TSAN
constexpr int kIncrements = 5000;
#else
constexpr int kIncrements = 100000;
#endif

namespace {

static_assert(!std::is_copy_constructible<CKesMutex>::value &&
                  !std::is_copy_assignable<CKesMutex>::value &&
                  !std::is_copy_constructible<CKesSemaphore>::value &&
                  !std::is_copy_constructible<CKesCriticalSection>::value &&
                  !std::is_copy_constructible<CKesManualEvent>::value &&
                  !std::is_copy_constructible<CKesAutoEvent>::value &&
                  !std::is_copy_assignable<CKesAutoEvent>::value,
              "a copy would close the kernel object twice");
// Expects `action` to throw CKesException carrying KES_E_SYNC_OBJECT (0x80040210).
template <class Action>
void expect_sync_exception(Action action) {
    try {
        action();
        ADD_FAILURE() << "no exception";
    } catch (const CKesException& caught) {
        EXPECT_EQ(caught.ErrorCode(), static_cast<LONG>(0x80040210));
    }
}

// Runs `action` on another thread and returns whether it finished within
// `milliseconds`; the thread is joined either way (the caller must make the
// action finish afterwards, for instance by unlocking).
struct Attempt {
    std::atomic<bool> done{false};
    std::thread thread;
    template <class Action>
    explicit Attempt(Action action)
        : thread([this, action] {
              action();
              done = true;
          }) {}
    bool finishes_within(int milliseconds) {
        auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done;
    }
    ~Attempt() { thread.join(); }
};

TEST(KesLockables, CriticalSectionAndMutexReenterAndOthersWaitForTheLastRelease) {
    CKesCriticalSection section;
    CKesMutex mutex;
    for (const ILockable* lockable :
         {static_cast<const ILockable*>(&section), static_cast<const ILockable*>(&mutex)}) {
        SCOPED_TRACE(lockable == &section ? "critical section" : "mutex");
        lockable->LockWrite();
        {
            CKesLock inner(lockable);
            CKesWriteLock innermost(lockable);
        }
        Attempt other([&] { CKesLock lock(lockable); });
        EXPECT_FALSE(other.finishes_within(50)) << "entered while held once more";
        lockable->UnlockWrite();
        EXPECT_TRUE(other.finishes_within(10000));
    }
}

TEST(KesMutex, ReleaseByANonOwnerThrowsTheSyncCode) {
    CKesMutex mutex;
    mutex.LockWrite();
    std::thread([&] {
        expect_sync_exception([&] { mutex.Release(); });
        expect_sync_exception([&] { mutex.UnlockWrite(); });
    }).join();
    mutex.Release();
    expect_sync_exception([&] { mutex.Release(); });  // not held at all now
}

TEST(KesMutex, ScopedLockStaysSilentWhenTheReleaseFails) {
    CKesMutex mutex;
    EXPECT_NO_THROW({
        CKesLock lock(&mutex);
        mutex.Release();  // the scoped lock's own release will now fail
    });
    DWORD from_other = 0;
    std::thread([&] {
        from_other = WaitForSingleObject(mutex, 0);
        ReleaseMutex(mutex);
    }).join();
    EXPECT_EQ(from_other, WAIT_OBJECT_0) << "the mutex is free";
}

// ---- Semaphore ---------------------------------------------------------------------

LONG units_available(const CKesSemaphore& semaphore) {
    LONG count = 0;
    while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0)
        ++count;
    if (count > 0)
        semaphore.Release(count);
    return count;
}

TEST(KesSemaphore, EmptySemaphoreBlocksTheFirstLockerUntilARelease) {
    CKesSemaphore semaphore(3, 0);
    Attempt locker([&] { semaphore.LockWrite(); });
    EXPECT_FALSE(locker.finishes_within(50));
    semaphore.Release(1);
    EXPECT_TRUE(locker.finishes_within(10000));
}

TEST(KesSemaphore, OverReleaseThrowsAndLeavesTheCount) {
    CKesSemaphore semaphore(3, -1);
    expect_sync_exception([&] { semaphore.Release(2); });
    EXPECT_EQ(units_available(semaphore), 3);
    semaphore.LockWrite();
    expect_sync_exception([&] { semaphore.Release(2); });
    EXPECT_EQ(units_available(semaphore), 2);
    expect_sync_exception([&] { semaphore.Release(0); });
}

TEST(KesSemaphore, NegativeInitialCountStartsFullBadBoundsThrowAndAnyThreadReleases) {
    CKesSemaphore full(3, -1), empty(3, 0);
    EXPECT_EQ(units_available(full), 3);
    EXPECT_EQ(units_available(empty), 0);
    expect_sync_exception([] { CKesSemaphore semaphore(0, 0); });
    expect_sync_exception([] { CKesSemaphore semaphore(2, 3); });
    full.LockWrite();
    std::thread([&] { full.UnlockWrite(); }).join();  // no owner
    EXPECT_EQ(units_available(full), 3);
}

// ---- Events ------------------------------------------------------------------------

TEST(KesEvent, WaitResultsFollowTheState) {
    CKesManualEvent manual;
    EXPECT_EQ(manual.Wait(0), WAIT_TIMEOUT) << "a manual event starts non-signalled";
    manual.Set();
    EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0) << "and stays signalled";
    manual.Reset();
    EXPECT_EQ(manual.Wait(10), WAIT_TIMEOUT);

    CKesAutoEvent automatic;
    EXPECT_EQ(automatic.Wait(0), WAIT_OBJECT_0) << "an auto event starts signalled";
    EXPECT_EQ(automatic.Wait(0), WAIT_TIMEOUT) << "and resets as it releases";

    automatic.Pulse();  // nobody waits: stays non-signalled
    EXPECT_EQ(automatic.Wait(0), WAIT_TIMEOUT);
    CKesManualEvent initially_set(true);
    EXPECT_EQ(initially_set.Wait(0), WAIT_OBJECT_0);
    CKesAutoEvent initially_clear(false);
    EXPECT_EQ(initially_clear.Wait(0), WAIT_TIMEOUT);
}

TEST(KesEvent, WaitOnAClosedHandleFails) {
    CKesManualEvent event;
    // Closing behind the object's back: Wait reports the host's failure as is.
    ASSERT_TRUE(CloseHandle(event));
    EXPECT_EQ(event.Wait(0), WAIT_FAILED);
    expect_sync_exception([&] { event.Set(); });
    expect_sync_exception([&] { event.Reset(); });
    expect_sync_exception([&] { event.Pulse(); });
    // The destructor's CloseHandle fails quietly.
}

TEST(KesAutoEvent, AsALockItBlocksTheSecondLockerUntilTheFirstUnlocks) {
    CKesAutoEvent gate;
    auto first = std::make_unique<CKesLock>(&gate);  // gets through at once
    {
        Attempt second([&] { CKesLock lock(&gate); });
        EXPECT_FALSE(second.finishes_within(50));
        first.reset();
        EXPECT_TRUE(second.finishes_within(10000));
    }
    EXPECT_EQ(gate.Wait(0), WAIT_OBJECT_0) << "the second locker opened the gate again";
    std::thread([&] { gate.UnlockWrite(); }).join();  // no owner: any thread unlocks
    EXPECT_EQ(gate.Wait(0), WAIT_OBJECT_0);
}

// 4 threads each add 1 to a plain int under CKesLock; a lost update shows as a
// smaller total. The semaphore is a binary one.
TEST(Lockables, CountsStayExactUnderFourThreads) {
    CKesCriticalSection section;
    CKesMutex mutex;
    CKesSemaphore semaphore(1, -1);
    CKesAutoEvent gate;
    const std::pair<const char*, const ILockable*> lockables[] = {
        {"critical section", &section},
        {"mutex", &mutex},
        {"semaphore", &semaphore},
        {"auto event", &gate},
    };
    for (const auto& [name, lockable] : lockables) {
        SCOPED_TRACE(name);
        // Kernel-backed hand-offs wake a sleeping thread each (microseconds),
        // and a broken lock loses updates within far fewer rounds.
        const int increments = lockable == &section ? kIncrements : kIncrements / 4;
        int counter = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < increments; ++i) {
                    CKesLock guard(lockable);
                    ++counter;
                }
            });
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(counter, 4 * increments);
    }
}

}  // namespace
