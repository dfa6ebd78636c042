#include "compare/content_chunks.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <bit>

// Gear hashing: h = (h << 1) + G[byte]. After 64 bytes the oldest byte has
// shifted out, so h depends on the last 64 bytes only, and its high bits on
// all of them. A small chunk ends where h has at least kCutBits leading zero
// bits, so on random data one ends about every 2^kCutBits bytes after the
// first kMinChunk; every kLevelBits further zero bits raise the cut's level.

namespace kelpie {
namespace {

constexpr int kCutBits = 8;
constexpr int kLevelBits = 3;

// Fixed pseudo-random table: part of the wire protocol, both sides must agree.
constexpr std::array<uint64_t, 256> MakeGearTable() {
  std::array<uint64_t, 256> table{};
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint64_t& entry : table) {
    // splitmix64
    x += 0x9E3779B97F4A7C15ull;
    uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    entry = z ^ (z >> 31);
  }
  return table;
}
constexpr std::array<uint64_t, 256> kGear = MakeGearTable();

int LevelOfHash(uint64_t h) {
  const int zeros = std::countl_zero(h);
  return std::min(kTopChunkLevel, (zeros - kCutBits) / kLevelBits);
}

// The end of the small chunk starting at `start`, and the natural level of
// that cut (-1 for a forced cut at kMaxChunk or the end of the data).
std::pair<int64_t, int> NextCut(std::span<const uint8_t> data, int64_t start) {
  const auto size = static_cast<int64_t>(data.size());
  const int64_t limit = std::min(size, start + kMaxChunk);
  if (limit - start <= kMinChunk) return {limit, -1};
  // Only the last 64 bytes count, so hashing starts 64 bytes before the
  // first place a cut may fall.
  int64_t i = std::max(start, start + kMinChunk - 64);
  uint64_t h = 0;
  for (; i < start + kMinChunk; ++i)
    h = (h << 1) + kGear[data[i]];
  constexpr uint64_t kCutMask = ~uint64_t{0} << (64 - kCutBits);
  // Two bytes a step: the hash after both is formed from the hash before
  // them directly, which halves the chain of dependent additions.
  for (; i + 1 < limit; i += 2) {
    const uint64_t g0 = kGear[data[i]];
    const uint64_t g1 = kGear[data[i + 1]];
    const uint64_t first = (h << 1) + g0;
    h = (h << 2) + ((g0 << 1) + g1);
    if ((first & kCutMask) == 0) return {i + 1, LevelOfHash(first)};
    if ((h & kCutMask) == 0) return {i + 2, LevelOfHash(h)};
  }
  if (i < limit) {
    h = (h << 1) + kGear[data[i]];
    if ((h & kCutMask) == 0) return {i + 1, LevelOfHash(h)};
  }
  return {limit, -1};
}

}  // namespace

int64_t MaxRangeLength(int level) {
  return kMaxChunk << (kLevelBits * level);
}

ChunkCuts CutChunks(std::span<const uint8_t> data) {
  ChunkCuts cuts;
  const auto size = static_cast<int64_t>(data.size());
  cuts.ends.reserve(static_cast<size_t>(size / 512 + 1));
  cuts.level.reserve(cuts.ends.capacity());
  std::array<int64_t, kTopChunkLevel + 1> lastCut{};  // last cut of each level
  int64_t pos = 0;
  while (pos < size) {
    auto [end, level] = NextCut(data, pos);
    if (end == size) level = kTopChunkLevel;
    // A range that would grow past its longest is cut here.
    for (int k = std::max(level, 0) + 1; k <= kTopChunkLevel; ++k) {
      if (end - lastCut[k] > MaxRangeLength(k) - kMaxChunk) level = k;
    }
    level = std::max(level, 0);
    for (int k = 0; k <= level; ++k)
      lastCut[k] = end;
    cuts.ends.push_back(end);
    cuts.level.push_back(static_cast<uint8_t>(level));
    pos = end;
  }
  return cuts;
}

std::vector<ChunkRange> RangesOfLevel(const ChunkCuts& cuts, int level, int64_t start,
                                      int64_t end) {
  std::vector<ChunkRange> ranges;
  auto it = std::upper_bound(cuts.ends.begin(), cuts.ends.end(), start);
  int64_t from = start;
  for (; it != cuts.ends.end() && *it <= end; ++it) {
    const size_t i = static_cast<size_t>(it - cuts.ends.begin());
    if (cuts.level[i] >= level || *it == end) {
      ranges.push_back({from, *it - from});
      from = *it;
      if (*it == end) break;
    }
  }
  return ranges;
}

std::vector<ChunkRange> PartsOf(const ChunkCuts& cuts, int level, const ChunkRange& range,
                                int& partLevel) {
  for (partLevel = level - 1; partLevel >= 0; --partLevel) {
    std::vector<ChunkRange> parts =
        RangesOfLevel(cuts, partLevel, range.start, range.start + range.len);
    if (parts.size() > 1) return parts;
  }
  partLevel = 0;
  return {};
}

uint64_t RangeHash(std::span<const uint8_t> bytes) {
  return XXH3_64bits(bytes.data(), bytes.size());
}

}  // namespace kelpie
