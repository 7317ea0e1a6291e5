#include <host/sync.h>
#include <kes/error/kesexception.h>
#include <kes/sync/kescriticalsection.h>
#include <kes/sync/kesevent.h>
#include <kes/sync/kesmutex.h>
#include <kes/sync/kessemaphore.h>

#include "sync_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

static_assert(!std::is_copy_constructible<CKesMutex>::value &&
                  !std::is_copy_assignable<CKesMutex>::value &&
                  !std::is_copy_constructible<CKesSemaphore>::value &&
                  !std::is_copy_constructible<CKesCriticalSection>::value &&
                  !std::is_copy_constructible<CKesManualEvent>::value &&
                  !std::is_copy_constructible<CKesAutoEvent>::value &&
                  !std::is_copy_assignable<CKesAutoEvent>::value,
              "a copy would close the kernel object twice");
static_assert(std::is_base_of<ILockable, CKesAutoEvent>::value &&
                  std::is_base_of<CKesEventB, CKesAutoEvent>::value &&
                  !std::is_base_of<ILockable, CKesManualEvent>::value,
              "the event hierarchy");
static_assert(CKesEventB::ManualReset == 0 && CKesEventB::AutoReset == 1, "reset types");

// Expects `action` to throw CKesException carrying KES_E_SYNC_OBJECT.
template <class Action>
void expect_sync_exception(Action action) {
    try {
        action();
        ADD_FAILURE() << "no exception";
    } catch (const CKesException& caught) {
        EXPECT_EQ(caught.ErrorCode(), KES_E_SYNC_OBJECT);
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

// ---- Critical section ----------------------------------------------------------

TEST(KesCriticalSection, HolderReentersAndOthersWaitForTheLastRelease) {
    CKesCriticalSection section;
    section.Enter();
    {
        CKesLock inner(&section);
        CKesWriteLock innermost(&section);
    }
    std::atomic<bool> entered{false};
    {
        Attempt other([&] {
            CKesLock lock(&section);
            entered = true;
        });
        EXPECT_FALSE(other.finishes_within(50)) << "entered while held once more";
        section.Leave();
        EXPECT_TRUE(other.finishes_within(10000));
    }
    EXPECT_TRUE(entered);
}

TEST(KesCriticalSection, CountsStayExactUnderFourThreads) {
    CKesCriticalSection section;
    EXPECT_EQ(count_under_lock(section, kIncrements), 4 * kIncrements);
}

// ---- Mutex -----------------------------------------------------------------------

TEST(KesMutex, HolderReentersAndEachHoldNeedsARelease) {
    CKesMutex mutex;
    mutex.LockWrite();
    {
        CKesLock again(&mutex);
        CKesWriteLock and_again(&mutex);
    }
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "the owner takes it at once";
    mutex.Release();
    DWORD from_other = 0;
    std::thread([&] { from_other = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(from_other, WAIT_TIMEOUT) << "one hold is left";
    mutex.UnlockWrite();
    std::thread([&] {
        from_other = WaitForSingleObject(mutex, 0);
        ReleaseMutex(mutex);
    }).join();
    EXPECT_EQ(from_other, WAIT_OBJECT_0);
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

TEST(KesMutex, CountsStayExactUnderFourThreads) {
    CKesMutex mutex;
    EXPECT_EQ(count_under_lock(mutex, kKernelIncrements), 4 * kKernelIncrements);
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

TEST(KesSemaphore, NegativeInitialCountStartsFull) {
    CKesSemaphore full(3, -1);
    EXPECT_EQ(units_available(full), 3);
    CKesSemaphore empty(3, 0);
    EXPECT_EQ(units_available(empty), 0);
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

TEST(KesSemaphore, HasNoOwnerAnyThreadReleases) {
    CKesSemaphore semaphore(1, -1);
    semaphore.LockWrite();
    std::thread([&] { semaphore.UnlockWrite(); }).join();
    EXPECT_EQ(units_available(semaphore), 1);
}

TEST(KesSemaphore, InvalidBoundsThrowFromTheConstructor) {
    expect_sync_exception([] { CKesSemaphore semaphore(0, 0); });
    expect_sync_exception([] { CKesSemaphore semaphore(2, 3); });
}

TEST(KesSemaphore, CountsStayExactUnderFourThreadsAsABinaryLock) {
    CKesSemaphore semaphore(1, -1);
    EXPECT_EQ(count_under_lock(semaphore, kKernelIncrements), 4 * kKernelIncrements);
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

// `waiting` threads wait on `event`; returns how many a pulse released. The
// rest are let go afterwards with Set.
int released_by_pulse(const CKesEventB& event, int waiting) {
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < waiting; ++i)
        threads.emplace_back([&] {
            if (event.Wait(INFINITE) == WAIT_OBJECT_0)
                ++released;
        });
    EXPECT_TRUE(await_waiters(event, waiting));
    event.Pulse();
    // The pulse hands the event over before it returns, so the threads still
    // registered are exactly those it did not release.
    int still_waiting = static_cast<int>(host::debug_waiter_count(event));
    while (released.load() < waiting - still_waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int by_pulse = released.load();
    EXPECT_EQ(by_pulse, waiting - still_waiting);
    EXPECT_EQ(event.Wait(0), WAIT_TIMEOUT) << "a pulse leaves the event non-signalled";
    while (released.load() < waiting) {
        event.Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto& t : threads)
        t.join();
    event.Reset();
    return by_pulse;
}

TEST(KesEvent, PulseReleasesAllWaitersOfAManualEvent) {
    CKesManualEvent event;
    EXPECT_EQ(released_by_pulse(event, 3), 3);
}

TEST(KesEvent, PulseReleasesExactlyOneWaiterOfAnAutoEvent) {
    CKesAutoEvent event(false);
    EXPECT_EQ(released_by_pulse(event, 3), 1);
}

TEST(KesEvent, PulseWithNobodyWaitingReleasesNobody) {
    CKesManualEvent manual;
    manual.Pulse();
    EXPECT_EQ(manual.Wait(0), WAIT_TIMEOUT);
    CKesAutoEvent automatic(false);
    automatic.Pulse();
    EXPECT_EQ(automatic.Wait(0), WAIT_TIMEOUT);
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
}

TEST(KesAutoEvent, HasNoOwnerAnotherThreadMayUnlock) {
    CKesAutoEvent gate;
    gate.LockWrite();
    std::thread([&] { gate.UnlockWrite(); }).join();
    EXPECT_EQ(gate.Wait(0), WAIT_OBJECT_0);
}

TEST(KesAutoEvent, CountsStayExactUnderFourThreads) {
    CKesAutoEvent gate;
    EXPECT_EQ(count_under_lock(gate, kKernelIncrements), 4 * kKernelIncrements);
}

}  // namespace
