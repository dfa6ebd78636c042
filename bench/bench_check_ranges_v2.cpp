// Version-2 checks on 64 MiB of each kind of content: one look-up in the
// responder's index of content-defined ranges, plus a hash of the range at
// its own offset when the look-up does not name it. "Elsewhere" asks for a
// range the data holds, from another offset; "Missing" for one it does not
// hold, at a real range's length and offset. "Index" builds the index.
//
// Run: build/bench/bench_check_ranges_v2 --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "compare/chunk_index.h"
#include "compare/content_chunks.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = size_t{64} << 20;

Bytes Random(size_t size, uint32_t seed) {
  std::mt19937_64 engine(seed);
  Bytes bytes(size);
  for (uint8_t& b : bytes)
    b = static_cast<uint8_t>(engine());
  return bytes;
}

// Log-like lines from a small vocabulary.
Bytes Text() {
  const std::vector<std::string> words = {"INFO ", "WARN ",  "[worker-3] ", "GET /api/v2/orders ",
                                          "200 ",  "512ms ", "db-pool ",    "timeout ",
                                          "\n"};
  std::mt19937 engine(2);
  Bytes bytes;
  bytes.reserve(kSize);
  while (bytes.size() < kSize) {
    const std::string& w = words[engine() % words.size()];
    bytes.insert(bytes.end(), w.begin(), w.end());
  }
  bytes.resize(kSize);
  return bytes;
}

// Zeros with random islands of 4 to 256 KiB.
Bytes Sparse() {
  Bytes bytes(kSize, 0);
  std::mt19937 engine(3);
  for (size_t at = 0; at + (256 << 10) < kSize; at += (1 << 20) + engine() % (1 << 20)) {
    const Bytes island = Random(4096 + engine() % (252 << 10), engine());
    std::copy(island.begin(), island.end(), bytes.begin() + static_cast<long>(at));
  }
  return bytes;
}

// 128-byte records counting up: the same shape again and again.
Bytes Periodic() {
  Bytes bytes(kSize);
  for (size_t i = 0; i < kSize; ++i) {
    bytes[i] = i % 128 < 8 ? static_cast<uint8_t>((i / 128) >> (8 * (i % 8))) : uint8_t(i % 128);
  }
  return bytes;
}

struct Case {
  Bytes data;
  ChunkCuts cuts;
  std::unique_ptr<ChunkIndex> index;
};

Case& Content(int kind) {
  static std::vector<std::unique_ptr<Case>> cases(5);
  if (!cases[kind]) {
    auto made = std::make_unique<Case>();
    made->data = kind == 0   ? Random(kSize, 1)
                 : kind == 1 ? Text()
                 : kind == 2 ? Bytes(kSize, 0)
                 : kind == 3 ? Sparse()
                             : Periodic();
    made->cuts = CutChunks(made->data);
    made->index = std::make_unique<ChunkIndex>(made->data);
    cases[kind] = std::move(made);
  }
  return *cases[kind];
}

const char* kNames[] = {"Random", "Text", "Zeros", "Sparse", "Periodic"};

// The ranges of one level, asked from another offset or with another hash.
void Checks(benchmark::State& state, int kind, int level, bool present) {
  Case& c = Content(kind);
  const std::vector<ChunkRange> ranges =
      RangesOfLevel(c.cuts, level, 0, static_cast<int64_t>(c.data.size()));
  // The initiator hashes its ranges; only the responder's side is timed.
  std::vector<RangeCheck> checks;
  for (size_t i = 0; i < std::min<size_t>(ranges.size(), 4096); ++i) {
    const ChunkRange& r = ranges[(i * 7919) % ranges.size()];
    const uint64_t hash = RangeHash(std::span(c.data).subspan(r.start, r.len));
    checks.push_back({present ? (r.start + 4096) % int64_t(kSize) : r.start, r.len,
                      present ? hash : hash ^ 0x5555});
  }
  size_t n = 0;
  for (auto _ : state) {
    const RangeCheck& check = checks[n++ % checks.size()];
    int64_t budget = INT64_MAX;
    benchmark::DoNotOptimize(c.index->Find(check, budget));
  }
  state.SetLabel(std::to_string(ranges.size()) + " ranges");
}

void Index(benchmark::State& state, int kind) {
  const Case& c = Content(kind);
  for (auto _ : state) {
    ChunkIndex index(c.data);
    benchmark::DoNotOptimize(index.RangeCount());
  }
  state.SetLabel(std::to_string(Content(kind).index->MemoryBytes() >> 10) + " KiB");
}

const int kRegistered = [] {
  for (int kind = 0; kind < 5; ++kind) {
    const std::string name = kNames[kind];
    benchmark::RegisterBenchmark(("Index/" + name).c_str(), Index, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    for (int level : {0, kTopChunkLevel}) {
      for (bool present : {true, false}) {
        benchmark::RegisterBenchmark(
            ((present ? "Elsewhere/" : "Missing/") + name + "/level" + std::to_string(level))
                .c_str(),
            Checks, kind, level, present)
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
  return 0;
}();

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
