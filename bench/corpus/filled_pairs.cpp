// Content most of whose windows look alike, where a byte-by-byte search for a
// range is slowest: zeros with a few blocks of data, and one short pattern
// repeated.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "sparse_image.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr int kBlocks = 16;
constexpr int kPeriodicEdits = 20;
constexpr int64_t kEditLength = 64;
constexpr int64_t kInserted = 100;

std::vector<Island> FewBlocks(int64_t size, Rng& rng) {
  std::vector<Island> blocks;
  for (int i = 0; i < kBlocks && size > kPage; ++i)
    blocks.push_back({rng.Between(0, size / kPage - 1) * kPage, kPage});
  std::sort(blocks.begin(), blocks.end(),
            [](const Island& a, const Island& b) { return a.offset < b.offset; });
  return blocks;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The pattern repeated over size bytes with `inserted` put in at `at`, and
// each edit's bytes written over it: streamed a block at a time.
bool WritePeriodic(const std::string& path, int64_t size, const std::vector<char>& pattern,
                   int64_t at, const std::vector<char>& inserted,
                   const std::vector<std::pair<int64_t, std::vector<char>>>& edits) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const auto total = size + static_cast<int64_t>(inserted.size());
  std::vector<char> block(size_t{1} << 20);
  for (int64_t start = 0; start < total; start += static_cast<int64_t>(block.size())) {
    const int64_t end = std::min<int64_t>(total, start + static_cast<int64_t>(block.size()));
    for (int64_t p = start; p < end; ++p) {
      const int64_t original = p < at ? p : p - static_cast<int64_t>(inserted.size());
      block[static_cast<size_t>(p - start)] =
          p >= at && original < at ? inserted[static_cast<size_t>(p - at)]
                                   : pattern[static_cast<size_t>(original) % pattern.size()];
    }
    for (const auto& [offset, bytes] : edits) {
      for (size_t k = 0; k < bytes.size(); ++k) {
        const int64_t p = offset + static_cast<int64_t>(k);
        if (p >= start && p < end) block[static_cast<size_t>(p - start)] = bytes[k];
      }
    }
    if (std::fwrite(block.data(), 1, static_cast<size_t>(end - start), file.get()) !=
        static_cast<size_t>(end - start)) {
      return false;
    }
  }
  return std::fflush(file.get()) == 0;
}

}  // namespace

bool WriteZerosPair(const PairRequest& request) {
  Rng rng(request.seed);
  const std::vector<Island> local = FewBlocks(request.size, rng);
  const std::vector<Island> peer = FewBlocks(request.size, rng);
  return WriteImage(request.localPath, request.size, local, IslandSeeds(local.size(), rng)) &&
         WriteImage(request.peerPath, request.size, peer, IslandSeeds(peer.size(), rng));
}

namespace {

// A pattern of `period` bytes repeated; the peer's copy has bytes inserted in
// the middle and a few short edits.
bool WritePatternPair(const PairRequest& request, size_t period) {
  Rng rng(request.seed);
  std::vector<char> pattern(period);
  rng.Fill(pattern);
  std::vector<char> inserted(kInserted);
  rng.Fill(inserted);
  std::vector<std::pair<int64_t, std::vector<char>>> edits;
  for (int i = 0; i < kPeriodicEdits; ++i) {
    std::vector<char> bytes(kEditLength);
    rng.Fill(bytes);
    edits.emplace_back(rng.Between(0, std::max<int64_t>(0, request.size - kEditLength)), bytes);
  }
  return WritePeriodic(request.localPath, request.size, pattern, request.size, {}, {}) &&
         WritePeriodic(request.peerPath, request.size, pattern, request.size / 2, inserted, edits);
}

}  // namespace

bool WritePeriodicPair(const PairRequest& request) {
  return WritePatternPair(request, 1000);
}

bool WriteFillPair(const PairRequest& request) {
  return WritePatternPair(request, 4096);
}

}  // namespace kelpie::bench
