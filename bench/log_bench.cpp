// What tracing costs while the log is off: every interface method opens a
// trace scope, so with logging off it must cost no more than a comparison.
#include <benchmark/benchmark.h>

#include "runtime/kvlog.h"

namespace {

__attribute__((noinline)) HRESULT Untraced(int a, const char16_t *b) {
    HRESULT hr = S_OK;
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    return hr;
}

__attribute__((noinline)) HRESULT Traced(int a, const char16_t *b) {
    HRESULT hr = S_OK;
    kv::clsTraceScope trace(&hr, "clsX::Method(%d,'%ws')", a, b);
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    return hr;
}

void BM_MethodWithoutTrace(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(Untraced(7, u"name"));
}

void BM_MethodWithTraceLogOff(benchmark::State &state) {
    kv::KvLog().ResetForTests();
    for (auto _ : state) benchmark::DoNotOptimize(Traced(7, u"name"));
}

void BM_MethodWithTraceBelowThreshold(benchmark::State &state) {
    kv::KvLog().ResetForTests();
    kv::KvLog().SetOutputMode(2); // no sink: lines would go nowhere anyway
    kv::KvLog().SetLogLevel(1);
    for (auto _ : state) benchmark::DoNotOptimize(Traced(7, u"name"));
    kv::KvLog().ResetForTests();
}

void BM_DetailLineLogOff(benchmark::State &state) {
    kv::KvLog().ResetForTests();
    for (auto _ : state) kv::LogWriteF(kv::kLogDetails, "reply '%s' code %d", "250 ok", 250);
}

BENCHMARK(BM_MethodWithoutTrace);
BENCHMARK(BM_MethodWithTraceLogOff);
BENCHMARK(BM_MethodWithTraceBelowThreshold);
BENCHMARK(BM_DetailLineLogOff);

} // namespace

BENCHMARK_MAIN();
