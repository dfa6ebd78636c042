// Making a comparison of a 64 MiB file (reading it whole and fingerprinting
// every 512 KiB range) beside its floor: reading the same file and one MD5
// pass over it. Also the initiator's side of a whole comparison of unrelated
// 64 MiB files (about 260000 block records) and of its synchronisation, which
// must grow linearly with the number of records.
//
//   cmake --build build --target bench_start_comparison
//   ./build/bench/bench_start_comparison

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "compare/engine.h"
#include "compare/fingerprint.h"
#include "compare/sync.h"

namespace kelpie {
namespace {

constexpr int32_t kFileSize = 64 * 1024 * 1024;

// A 64 MiB file of random bytes, removed at exit.
class BenchFile {
 public:
  BenchFile() {
    path_ = (std::filesystem::temp_directory_path() /
             ("kelpie-bench-" + std::to_string(::getpid()) + ".bin"))
                .string();
    std::vector<uint8_t> bytes(kFileSize);
    std::mt19937_64 random(1);
    for (size_t i = 0; i < bytes.size(); i += 8) {
      uint64_t value = random();
      for (int b = 0; b < 8; ++b)
        bytes[i + b] = static_cast<uint8_t>(value >> (8 * b));
    }
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file != nullptr) {
      std::fwrite(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
  }
  ~BenchFile() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const BenchFile& File() {
  static const BenchFile file;
  return file;
}

// Sends nowhere; remembers nothing but what a driver loop needs.
class SilentHost : public EngineHost {
 public:
  void SendCompareStart(const CompareJob&) override {}
  void SendCheck(const CompareJob&, int32_t, int32_t, int32_t, std::string_view) override {
    ++checks;
  }
  void SendGet(const CompareJob&, int32_t, int32_t len) override { lastGet = len; }
  void SendStop(const CompareJob&) override {}
  void AddLog(std::string_view) override {}
  void UpdateJobList(int32_t) override {}
  std::string AskSavePath(std::string_view) override { return ""; }

  int64_t checks = 0;
  int32_t lastGet = 0;
};

CompareJob& StartOnBenchFile(Tables& tables, SilentHost& host) {
  FileEntry local{File().path(), kFileSize, "", 0, 0};
  FileEntry remote{"/peer/file.bin", kFileSize, "", 0, 0};
  return *StartComparison(tables, host, local, remote);
}

void BM_StartComparison(benchmark::State& state) {
  File();
  for (auto _ : state) {
    Tables tables;
    SilentHost host;
    CompareJob& job = StartOnBenchFile(tables, host);
    benchmark::DoNotOptimize(job.blocks.get());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFileSize});
}
BENCHMARK(BM_StartComparison)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadFileAndOneMd5Pass(benchmark::State& state) {
  File();
  for (auto _ : state) {
    std::vector<uint8_t> data(kFileSize);
    int fd = ::open(File().path().c_str(), O_RDONLY | O_CLOEXEC);
    size_t done = 0;
    while (fd >= 0 && done < data.size()) {
      ssize_t got = ::read(fd, data.data() + done, data.size() - done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (fd >= 0) ::close(fd);
    Md5Digest digest = RangeDigest(data);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kFileSize});
}
BENCHMARK(BM_ReadFileAndOneMd5Pass)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every check answered "not found": the list grows to about 260000 records.
void BM_CompareUnrelatedFiles(benchmark::State& state) {
  File();
  for (auto _ : state) {
    Tables tables;
    SilentHost host;
    CompareJob& job = StartOnBenchFile(tables, host);
    job.state = kComparing;
    job.fileId = 1;
    while (job.state == kComparing) {
      RunComparisons(tables, host);
      ApplyCheckAnswer(tables, 0, 1, -1);
    }
    state.counters["records"] = CountRecords(job.blocks.get());
    state.counters["checks"] = static_cast<double>(host.checks);

    // Synchronising it fetches the whole file, one Get per pass.
    StartSynchronisation(job);
    std::vector<uint8_t> answer(kMaxGetLength);
    while (job.state == kSynchronising) {
      RunComparisons(tables, host);
      if (job.state == kAwaitingData) {
        StoreRangeAnswer(job, host, std::span(answer).first(host.lastGet));
      }
    }
  }
}
BENCHMARK(BM_CompareUnrelatedFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace kelpie

BENCHMARK_MAIN();
