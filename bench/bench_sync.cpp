// Synchronisation costs against the standard library, in one binary:
//  - an uncontended enter + leave of the critical section, directly and through
//    CKesLock over CKesCriticalSection, against std::recursive_mutex;
//  - a round trip between two threads over two CKesAutoEvents, against the
//    same round trip over std::mutex + std::condition_variable;
//  - WaitForSingleObject(h, 0) on a signalled manual event, against testing
//    the flag of a std::mutex-guarded "event" (lock, read, unlock), which is
//    what a standard-library event made of a mutex and a condition variable
//    does for a wait that must not block.
// See docs/performance.md for the command and the targets.
//
// The uncontended figures are taken with a second thread alive (parked on a
// condition variable). The C library skips the atomic instructions of its own
// mutexes while a process has a single thread, so without it the baseline
// would measure a cost that no program sharing a lock between threads sees.
#include "bench_support.h"

#include <host/critsec.h>
#include <host/sync.h>
#include <kes/sync/kescriticalsection.h>
#include <kes/sync/kesevent.h>
#include <kes/sync/keslock.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using kesbench::ParkedThread;

void BM_StdRecursiveMutex(benchmark::State& state) {
    ParkedThread other;
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}
BENCHMARK(BM_StdRecursiveMutex);

void BM_EnterLeaveCriticalSection(benchmark::State& state) {
    ParkedThread other;
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    for (auto _ : state) {
        EnterCriticalSection(&section);
        benchmark::ClobberMemory();
        LeaveCriticalSection(&section);
    }
    DeleteCriticalSection(&section);
}
BENCHMARK(BM_EnterLeaveCriticalSection);

void BM_KesLockOverCriticalSection(benchmark::State& state) {
    ParkedThread other;
    CKesCriticalSection section;
    const ILockable* lockable = &section;
    benchmark::DoNotOptimize(lockable);  // keep the calls virtual, as in real use
    for (auto _ : state) {
        CKesLock lock(lockable);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_KesLockOverCriticalSection);

// One iteration: the main thread hands the turn to its partner and waits for
// it to come back.
void BM_CondvarPingPong(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable to_partner, to_main;
    bool partner_turn = false;
    bool stop = false;
    std::thread partner([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            to_partner.wait(lock, [&] { return partner_turn || stop; });
            if (stop)
                return;
            partner_turn = false;
            to_main.notify_one();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(mutex);
        partner_turn = true;
        to_partner.notify_one();
        to_main.wait(lock, [&] { return !partner_turn; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    to_partner.notify_one();
    partner.join();
}
BENCHMARK(BM_CondvarPingPong)->UseRealTime();

void BM_AutoEventPingPong(benchmark::State& state) {
    CKesAutoEvent ping(false), pong(false);
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        for (;;) {
            ping.Wait(INFINITE);
            if (stop.load())
                return;
            pong.Set();
        }
    });
    for (auto _ : state) {
        ping.Set();
        pong.Wait(INFINITE);
    }
    stop = true;
    ping.Set();
    partner.join();
}
BENCHMARK(BM_AutoEventPingPong)->UseRealTime();

void BM_WaitSignalledManualEvent(benchmark::State& state) {
    ParkedThread other;
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(WaitForSingleObject(event, 0));
    CloseHandle(event);
}
BENCHMARK(BM_WaitSignalledManualEvent);

void BM_StdMutexFlagTest(benchmark::State& state) {
    ParkedThread other;
    std::mutex mutex;
    bool signalled = true;  // guarded by mutex
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(mutex);
        benchmark::DoNotOptimize(signalled);
    }
}
BENCHMARK(BM_StdMutexFlagTest);

}  // namespace

BENCHMARK_MAIN();
