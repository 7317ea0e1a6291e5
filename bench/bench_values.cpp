// Value-type and small-primitive costs against the standard library, in one
// binary:
//  - CKesTimestamp::AsDHMSN (a wide string, allocated) against snprintf of the
//    same format with the same breakdown into a stack buffer, the floor any
//    printf-based rendering pays;
//  - an uncontended CKesRwMutex read lock + unlock against
//    std::shared_mutex::lock_shared + unlock_shared;
//  - CKesHandleBase::GetHandle called by two threads at once against a
//    std::mutex-guarded counter that the same two threads advance.
// See docs/performance.md for the command and the targets.
//
// The uncontended lock figures are taken with a second thread alive (parked
// on a condition variable): the C library skips the atomic instructions of
// its own locks while a process has a single thread, which no program that
// shares a lock between threads would see.
//
// The handle allocator is process-wide and cannot be reset: every handle the
// benchmark takes is gone for the rest of the process. Each run therefore
// checks first that enough handles are left for all the iterations it will
// make, and is skipped with an error rather than measure the exhaustion path
// when they are not (a very long --benchmark_min_time could get there).
#include "bench_support.h"

#include <kes/application/keshandlebase.h>
#include <kes/sync/kesrwmutex.h>
#include <kes/util/kestimestamp.h>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace {

// A spread of signs and magnitudes, so that neither side profits from one
// digit count.
const CKesTimestamp kSamples[] = {
    CKesTimestamp(93784, 123456789),
    CKesTimestamp(-3661, -500000000),
    CKesTimestamp(0, -5),
    CKesTimestamp(2147483647, 999999999),
    CKesTimestamp(59, 1000),
    CKesTimestamp(-86400 * 300, -42),
    CKesTimestamp(7, 0),
    CKesTimestamp(123456, 654321),
};
constexpr std::size_t kSampleCount = sizeof kSamples / sizeof kSamples[0];

void BM_SnprintfDHMSN(benchmark::State& state) {
    char buffer[64];
    std::size_t i = 0;
    for (auto _ : state) {
        const CKesTimestamp& value = kSamples[i++ % kSampleCount];
        int length =
            std::snprintf(buffer, sizeof buffer, "%dd %.2d:%.2d:%.2d.%.9d", value.Days(),
                          value.Hours(), value.Minutes(), value.Seconds(), value.Nanoseconds());
        benchmark::DoNotOptimize(length);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SnprintfDHMSN);

void BM_TimestampAsDHMSN(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        host::wstring text = kSamples[i++ % kSampleCount].AsDHMSN();
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_TimestampAsDHMSN);

// ---- Reader-writer mutex ----------------------------------------------------------------

using kesbench::ParkedThread;

void BM_StdSharedMutexReadLock(benchmark::State& state) {
    ParkedThread other;
    std::shared_mutex mutex;
    for (auto _ : state) {
        mutex.lock_shared();
        benchmark::ClobberMemory();
        mutex.unlock_shared();
    }
}
BENCHMARK(BM_StdSharedMutexReadLock);

void BM_KesRwMutexReadLock(benchmark::State& state) {
    ParkedThread other;
    CKesRwMutex mutex;
    for (auto _ : state) {
        mutex.LockRead();
        benchmark::ClobberMemory();
        mutex.UnlockRead();
    }
}
BENCHMARK(BM_KesRwMutexReadLock);

// ---- Handle allocator from two threads --------------------------------------------------

constexpr LONG kLastHandle = 0x7FFFFFFF;

// The baseline: the same hand-out, a shared counter under a std::mutex.
std::mutex theCounterMutex;
LONG theCounter = 1;  // guarded by theCounterMutex

void BM_MutexCounterTwoThreads(benchmark::State& state) {
    for (auto _ : state) {
        LONG handle;
        {
            std::lock_guard<std::mutex> lock(theCounterMutex);
            handle = theCounter++;
        }
        benchmark::DoNotOptimize(handle);
    }
}
BENCHMARK(BM_MutexCounterTwoThreads)->Threads(2)->UseRealTime();

// True when enough handles are left for every thread's iterations of this
// run (each thread checks for all of them, so a thread that passes can never
// exhaust the allocator even if the other thread's check comes later).
bool HandlesLeftFor(benchmark::State& state) {
    LONG probe = 0;
    if (CKesHandleBase::GetHandle(&probe) != S_OK)
        return false;
    const std::int64_t left = static_cast<std::int64_t>(kLastHandle) - probe;
    const std::int64_t needed =
        static_cast<std::int64_t>(state.max_iterations) * state.threads() + state.threads();
    return left >= needed;
}

void BM_GetHandleTwoThreads(benchmark::State& state) {
    if (!HandlesLeftFor(state)) {
        state.SkipWithError("too few handles left in this process for the run");
        return;
    }
    for (auto _ : state) {
        LONG handle;
        if (CKesHandleBase::GetHandle(&handle) != S_OK) {
            state.SkipWithError("GetHandle failed");  // not expected after the check
            break;
        }
        benchmark::DoNotOptimize(handle);
    }
}
BENCHMARK(BM_GetHandleTwoThreads)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
