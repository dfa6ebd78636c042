// The responder's range search on 64 MiB buffers, each case beside the
// byte-by-byte reference scan. "First" cases answer with a fresh search (no
// index, nothing remembered); "Steady" cases reuse one search whose index is
// built before timing starts, with a different question every iteration.
//
// Run: build/bench/bench_check_range --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "compare/fingerprint.h"
#include "compare/range_index.h"
#include "compare/range_search.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kSize = size_t{64} << 20;
constexpr int32_t kLen = 512;

Bytes Random(size_t size, uint32_t seed) {
  std::mt19937_64 engine(seed);
  Bytes bytes(size);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t word = engine();
    for (int b = 0; b < 8; ++b)
      bytes[i + b] = static_cast<uint8_t>(word >> (8 * b));
  }
  return bytes;
}

const Bytes& RandomData() {
  static const Bytes data = Random(kSize, 1);
  return data;
}

const Bytes& ZeroData() {
  static const Bytes data(kSize, 0);
  return data;
}

struct Check {
  int32_t start;
  int32_t len;
  int32_t startLong;
  std::string md5;
};

Check RangeOf(const Bytes& data, int64_t at, int32_t len, int32_t askedStart) {
  const std::span<const uint8_t> range =
      std::span<const uint8_t>(data).subspan(static_cast<size_t>(at), static_cast<size_t>(len));
  return {askedStart, len, StartLong(data, at), RangeFingerprint(range)};
}

// A 512-byte range that is not in the data but starts like one that is: the
// MD5 is a counter, the first four bytes come from the data.
Check AbsentCheck(const Bytes& data, uint64_t n) {
  char md5[33];
  std::snprintf(md5, sizeof md5, "%032llx", static_cast<unsigned long long>(n + 1));
  const int64_t at = static_cast<int64_t>((n * 2654435761u) % (data.size() - kLen));
  return {static_cast<int32_t>(at), kLen, StartLong(data, at), md5};
}

// Ranges copied from the last 1 MiB, asked at offset 0.
Check PresentNearEnd(const Bytes& data, uint64_t n) {
  const int64_t at =
      static_cast<int64_t>(data.size()) - (1 << 20) + static_cast<int64_t>(n % 1000000);
  return RangeOf(data, at, kLen, 0);
}

// Four zero bytes, then noise: never in an all-zero buffer.
Check ZeroPrefixedAbsent(uint64_t n) {
  Bytes range = Random(kLen, static_cast<uint32_t>(n + 7));
  std::fill_n(range.begin(), 4, 0);
  return RangeOf(range, 0, kLen, 0);
}

// Without bounds, so that every case times the exact search; the bounded
// case below shows where the bounds cut a search short.
RangeSearchOptions Unbounded() {
  RangeSearchOptions options;
  options.checkWork = options.totalWork = int64_t{1} << 60;
  return options;
}

int32_t Ask(RangeSearch& search, const Check& c) {
  return search.Find(c.start, c.len, c.startLong, c.md5);
}

void ReportPerAnswer(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Fast_RandomAbsent_First(benchmark::State& state) {
  const Bytes& data = RandomData();
  uint64_t n = 0;
  for (auto _ : state) {
    RangeSearch search(data, Unbounded());
    benchmark::DoNotOptimize(Ask(search, AbsentCheck(data, n++)));
  }
  ReportPerAnswer(state, data.size());
}

constexpr int kSteadyChecks = 5000;

void BM_Fast_RandomAbsent_Steady(benchmark::State& state) {
  const Bytes& data = RandomData();
  static RangeSearch search(data, Unbounded());
  static uint64_t n = 0;
  while (!search.indexed())
    Ask(search, AbsentCheck(data, n++));
  std::vector<Check> checks;
  for (int k = 0; k < kSteadyChecks; ++k)
    checks.push_back(AbsentCheck(data, n++));
  size_t next = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(Ask(search, checks[next++]));
}

void BM_Naive_RandomAbsent(benchmark::State& state) {
  const Bytes& data = RandomData();
  uint64_t n = 0;
  for (auto _ : state) {
    const Check c = AbsentCheck(data, n++);
    benchmark::DoNotOptimize(NaiveFindRange(data, c.start, c.len, c.startLong, c.md5));
  }
  ReportPerAnswer(state, data.size());
}

void BM_Fast_RandomPresentNearEnd_First(benchmark::State& state) {
  const Bytes& data = RandomData();
  uint64_t n = 0;
  for (auto _ : state) {
    RangeSearch search(data, Unbounded());
    benchmark::DoNotOptimize(Ask(search, PresentNearEnd(data, n++)));
  }
  ReportPerAnswer(state, data.size());
}

void BM_Fast_RandomPresentNearEnd_Steady(benchmark::State& state) {
  const Bytes& data = RandomData();
  static RangeSearch search(data, Unbounded());
  static uint64_t n = 0;
  while (!search.indexed())
    Ask(search, AbsentCheck(data, n++));
  // Every run asks other ranges: a question asked before is answered from memory.
  std::vector<Check> checks;
  for (int k = 0; k < kSteadyChecks; ++k)
    checks.push_back(PresentNearEnd(data, n++));
  size_t next = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(Ask(search, checks[next++]));
}

void BM_Naive_RandomPresentNearEnd(benchmark::State& state) {
  const Bytes& data = RandomData();
  uint64_t n = 0;
  for (auto _ : state) {
    const Check c = PresentNearEnd(data, n++);
    benchmark::DoNotOptimize(NaiveFindRange(data, c.start, c.len, c.startLong, c.md5));
  }
  ReportPerAnswer(state, data.size());
}

void BM_Fast_ZerosAbsent_First(benchmark::State& state) {
  const Bytes& data = ZeroData();
  uint64_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const Check c = ZeroPrefixedAbsent(n++);
    state.ResumeTiming();
    RangeSearch search(data, Unbounded());
    benchmark::DoNotOptimize(Ask(search, c));
  }
  ReportPerAnswer(state, data.size());
}

void BM_Fast_ZerosAbsent_Steady(benchmark::State& state) {
  const Bytes& data = ZeroData();
  static RangeSearch search(data, Unbounded());
  static uint64_t n = 0;
  while (!search.indexed())
    Ask(search, ZeroPrefixedAbsent(n++));
  for (auto _ : state) {
    state.PauseTiming();
    const Check c = ZeroPrefixedAbsent(n++);
    state.ResumeTiming();
    benchmark::DoNotOptimize(Ask(search, c));
  }
}

// The reference hashes 512 bytes at every offset of an all-zero buffer; timed
// on 1 MiB and scaled by 64 for the 64 MiB figure.
void BM_Naive_ZerosAbsent_1MiB(benchmark::State& state) {
  const Bytes data(size_t{1} << 20, 0);
  uint64_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const Check c = ZeroPrefixedAbsent(n++);
    state.ResumeTiming();
    benchmark::DoNotOptimize(NaiveFindRange(data, c.start, c.len, c.startLong, c.md5));
  }
  state.counters["extrapolated_64MiB"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 64.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  ReportPerAnswer(state, data.size());
}

// The initiator's copy has 4321 bytes inserted in the middle of the
// responder's 64 MiB, so every range after that point is found elsewhere (or,
// across the insertion, nowhere) and is halved down to 512-byte pieces.
struct ShiftedScenario {
  Bytes initiator;
  std::vector<Check> checks;
};

void CutChecks(const Bytes& initiator, int64_t start, int64_t len, int64_t inserted,
               std::vector<Check>& checks) {
  checks.push_back(
      RangeOf(initiator, start, static_cast<int32_t>(len), static_cast<int32_t>(start)));
  const bool foundInPlace = start + len <= inserted;
  if (foundInPlace || len < 1024) return;
  CutChecks(initiator, start, len / 2, inserted, checks);
  CutChecks(initiator, start + len / 2, len - len / 2, inserted, checks);
}

const ShiftedScenario& Shifted() {
  static const ShiftedScenario scenario = [] {
    const Bytes& data = RandomData();
    const int64_t mid = static_cast<int64_t>(data.size() / 2) + 777;
    ShiftedScenario s;
    s.initiator.assign(data.begin(), data.begin() + mid);
    const Bytes insertion = Random(4321, 9);
    s.initiator.insert(s.initiator.end(), insertion.begin(), insertion.end());
    s.initiator.insert(s.initiator.end(), data.begin() + mid, data.end());
    const auto size = static_cast<int64_t>(s.initiator.size());
    for (int64_t start = 0; start < size; start += 524288) {
      CutChecks(s.initiator, start, std::min<int64_t>(524288, size - start), mid, s.checks);
    }
    return s;
  }();
  return scenario;
}

void BM_Fast_ShiftedChecks(benchmark::State& state) {
  const Bytes& data = RandomData();
  const std::vector<Check>& checks = Shifted().checks;
  int64_t found = 0;
  for (auto _ : state) {
    RangeSearch search(data, Unbounded());
    found = 0;
    for (const Check& c : checks)
      found += Ask(search, c) >= 0;
  }
  state.counters["checks"] = static_cast<double>(checks.size());
  state.counters["found"] = static_cast<double>(found);
  state.counters["per_check"] =
      benchmark::Counter(static_cast<double>(checks.size() * state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A sample of the same checks through the reference scan; the total for all
// of them is per-check time times the check count.
void BM_Naive_ShiftedChecksSample(benchmark::State& state) {
  const Bytes& data = RandomData();
  const std::vector<Check>& checks = Shifted().checks;
  size_t next = checks.size() / 2;
  for (auto _ : state) {
    const Check& c = checks[next];
    next = (next + 7919) % checks.size();
    benchmark::DoNotOptimize(NaiveFindRange(data, c.start, c.len, c.startLong, c.md5));
  }
  state.counters["extrapolated_total"] = benchmark::Counter(
      static_cast<double>(state.iterations()) / static_cast<double>(checks.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The hostile check against zeros with random islands: StartLong 0 and an
// MD5 of nothing, 512 KiB long, so every window reaching an island would be
// hashed. With the default bounds it ends after one check's work.
void BM_Bounded_SparseHostile(benchmark::State& state) {
  static const Bytes data = [] {
    Bytes bytes = ZeroData();
    const Bytes noise = Random(kSize / 64, 5);
    for (size_t at = 4096; at + 4096 < bytes.size(); at += 1 << 20)
      std::copy_n(noise.begin() + static_cast<int64_t>(at / 64), 4096, bytes.begin() + at);
    return bytes;
  }();
  uint64_t n = 0;
  for (auto _ : state) {
    RangeSearch search(data);
    char md5[33];
    std::snprintf(md5, sizeof md5, "%032llx", static_cast<unsigned long long>(++n));
    benchmark::DoNotOptimize(search.Find(0, 524288, 0, md5));
  }
}

void BM_BuildIndex(benchmark::State& state) {
  const Bytes& data = RandomData();
  size_t bytes = 0;
  for (auto _ : state) {
    const RangeIndex index(data);
    bytes = index.MemoryBytes();
  }
  state.counters["index_MiB"] = static_cast<double>(bytes) / (1 << 20);
}

BENCHMARK(BM_Fast_RandomAbsent_First)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fast_RandomAbsent_Steady)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(kSteadyChecks);
BENCHMARK(BM_Naive_RandomAbsent)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Fast_RandomPresentNearEnd_First)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fast_RandomPresentNearEnd_Steady)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(kSteadyChecks);
BENCHMARK(BM_Naive_RandomPresentNearEnd)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_Fast_ZerosAbsent_First)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fast_ZerosAbsent_Steady)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Naive_ZerosAbsent_1MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Bounded_SparseHostile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Fast_ShiftedChecks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Naive_ShiftedChecksSample)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(4);

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
