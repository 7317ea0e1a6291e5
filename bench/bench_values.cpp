// Value-type costs against the standard library, in one binary:
//  - CKesTimestamp::AsDHMSN (a wide string, allocated) against snprintf of the
//    same format with the same breakdown into a stack buffer, the floor any
//    printf-based rendering pays.
// See docs/performance.md for the command and the targets.
#include <kes/util/kestimestamp.h>

#include <benchmark/benchmark.h>

#include <cstdio>

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

}  // namespace

BENCHMARK_MAIN();
