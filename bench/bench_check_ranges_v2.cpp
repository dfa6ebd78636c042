// Version-2 checks on each kind of content (64 MiB unless
// KELPIE_BENCH_MIB says otherwise): one look-up in the responder's index of
// content-defined ranges, then hashes of the range at its own offset and at
// the offsets the look-up names. "Elsewhere" asks for a range the data holds,
// from another offset; "Missing" for one it does not hold, at a real range's
// length and offset. "Index" builds the index, "IndexFromCuts" builds it from
// the cuts made when the file was offered, and "Cuts" the initiator's cut
// list, reporting what each holds: Bytes, and DataPerByte, the data's size
// over it; Index also reports PeakMiB, the most memory the process held
// while building beyond what it held before.
//
// Run: build/bench/bench_check_ranges_v2 --benchmark_repetitions=5
//        --benchmark_report_aggregates_only=true
// On 1 GiB, memory and build times only:
//      KELPIE_BENCH_MIB=1024 build/bench/bench_check_ranges_v2
//        --benchmark_filter='Index|Cuts'
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "compare/chunk_index.h"
#include "compare/content_chunks.h"
#include "compare/prepared_cuts.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

size_t DataSize() {
  const char* mib = std::getenv("KELPIE_BENCH_MIB");
  return (mib != nullptr && std::atoll(mib) > 0 ? static_cast<size_t>(std::atoll(mib)) : 64) << 20;
}
const size_t kSize = DataSize();

void FillRandom(uint8_t* bytes, size_t size, uint64_t seed) {
  std::mt19937_64 engine(seed);
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t word = engine();
    for (size_t k = 0; k < 8 && i + k < size; ++k)
      bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
}

Bytes Random() {
  Bytes bytes(kSize);
  FillRandom(bytes.data(), kSize, 1);
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
    FillRandom(bytes.data() + at, 4096 + engine() % (252 << 10), engine());
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
  std::shared_ptr<const PreparedCuts> prepared;  // as cut when offered
};

// The data cut as a file offered is: written out, then cut from the file.
std::shared_ptr<const PreparedCuts> CutAsOffered(const Bytes& data) {
  char path[] = "/tmp/kelpie-bench-cuts-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return nullptr;
  ::close(fd);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  std::shared_ptr<const PreparedCuts> prepared =
      PrepareCuts(path, static_cast<int64_t>(data.size()));
  ::unlink(path);
  return prepared;
}

constexpr int kKinds = 5;
const char* kNames[kKinds] = {"Random", "Text", "Zeros", "Sparse", "Periodic"};

// One kind at a time is held: the benchmarks run kind by kind, and a large
// size of five would not fit.
Case& Content(int kind) {
  static std::unique_ptr<Case> held;
  static int heldKind = -1;
  if (heldKind != kind) {
    held.reset();
    auto made = std::make_unique<Case>();
    made->data = kind == 0   ? Random()
                 : kind == 1 ? Text()
                 : kind == 2 ? Bytes(kSize, 0)
                 : kind == 3 ? Sparse()
                             : Periodic();
    made->cuts = CutChunks(made->data);
    made->index = std::make_unique<ChunkIndex>(made->data);
    made->prepared = CutAsOffered(made->data);
    held = std::move(made);
    heldKind = kind;
  }
  return *held;
}

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

// Resident memory and its peak since the last reset, in bytes.
int64_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::atoll(line.c_str() + field.size() + 1) << 10;
  }
  return 0;
}

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void Index(benchmark::State& state, int kind) {
  const Case& c = Content(kind);
  int64_t peak = 0;
  for (auto _ : state) {
    ResetPeak();
    const int64_t before = StatusBytes("VmRSS");
    ChunkIndex index(c.data);
    peak = std::max(peak, StatusBytes("VmHWM") - before);
    benchmark::DoNotOptimize(index.RangeCount());
  }
  const auto bytes = static_cast<double>(c.index->MemoryBytes());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
  state.counters["Bytes"] = bytes;
  state.counters["DataPerByte"] = static_cast<double>(c.data.size()) / bytes;
  state.counters["PeakMiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["Ranges"] = static_cast<double>(c.index->RangeCount());
}

void IndexFromCuts(benchmark::State& state, int kind) {
  const Case& c = Content(kind);
  if (!c.prepared) return state.SkipWithError("cannot write the data out to cut it");
  for (auto _ : state) {
    ChunkIndex index(c.data, nullptr, c.prepared.get());
    benchmark::DoNotOptimize(index.RangeCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

void Cuts(benchmark::State& state, int kind) {
  const Case& c = Content(kind);
  for (auto _ : state)
    benchmark::DoNotOptimize(CutChunks(c.data).Count());
  const auto bytes = static_cast<double>(c.cuts.MemoryBytes());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
  state.counters["Bytes"] = bytes;
  state.counters["DataPerByte"] = static_cast<double>(c.data.size()) / bytes;
  state.counters["Chunks"] = static_cast<double>(c.cuts.Count());
}

const int kRegistered = [] {
  // Large blocks straight from the system and back to it when freed, so the
  // peak of resident memory shows what a build holds, not reused heap.
  mallopt(M_MMAP_THRESHOLD, 128 << 10);
  mallopt(M_TRIM_THRESHOLD, 128 << 10);
  for (int kind = 0; kind < kKinds; ++kind) {
    const std::string name = kNames[kind];
    benchmark::RegisterBenchmark(("Index/" + name).c_str(), Index, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark(("IndexFromCuts/" + name).c_str(), IndexFromCuts, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark(("Cuts/" + name).c_str(), Cuts, kind)
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
