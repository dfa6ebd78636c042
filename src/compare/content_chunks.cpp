#include "compare/content_chunks.h"
#include "compare/background_work.h"
#include "compare/prefault.h"
#include "compare/vector_state.h"

#include <xxhash.h>
// The library's dispatching XXH3 uses AVX2 or AVX-512 where the processor has
// them: the same values, over twice as fast on long ranges.
#if defined(__x86_64__) && __has_include(<xxh_x86dispatch.h>)
#include <xxh_x86dispatch.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <tuple>

// Gear hashing: h = (h << 1) + G[byte]. After 64 bytes the oldest byte has
// shifted out, so h depends on the last 64 bytes only, and its high bits on
// all of them. A small chunk ends where h has at least kCutBits leading zero
// bits, so on random data one ends about every 2^kCutBits bytes after the
// first kMinChunk; every kLevelBits further zero bits raise the cut's level.
//
// A zero byte maps the hash -G[0] to itself, and 64 zero bytes bring any hash
// there; that value is no cut. So where the hash is -G[0], the zeros that
// follow can be stepped over without hashing: every hash among them is -G[0]
// and none cuts.

namespace kelpie {
namespace {

// Pages mapped at once ahead of the cutting.
constexpr int64_t kPrefaultPiece = int64_t{4} << 20;
constexpr int kCutBits = 8;
constexpr int kLevelBits = 3;
constexpr uint64_t kCutMask = ~uint64_t{0} << (64 - kCutBits);

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

// The hash over any 64 or more zeros.
constexpr uint64_t kZeroHash = 0 - kGear[0];
static_assert(kZeroHash == (kZeroHash << 1) + kGear[0], "a zero byte keeps the zero hash");
static_assert((kZeroHash & kCutMask) != 0, "zeros never cut, so their runs can be skipped");

int LevelOfHash(uint64_t h) {
  const int zeros = std::countl_zero(h);
  return std::min(kTopChunkLevel, (zeros - kCutBits) / kLevelBits);
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Whether the 64 bytes at p are all zero; on most data the first word says no.
bool ZeroBlock(const uint8_t* p) {
  if (Load64(p) != 0) return false;
  uint64_t any = 0;
  for (int i = 8; i < 64; i += 8)
    any |= Load64(p + i);
  return any == 0;
}

}  // namespace

int64_t MaxRangeLength(int level) {
  return kMaxChunk << (kLevelBits * level);
}

void* ResizeBlock(void* block, size_t bytes) {
  if (bytes == 0) {
    std::free(block);
    return nullptr;
  }
  void* moved = std::realloc(block, bytes);
  if (moved == nullptr) throw std::bad_alloc();
  return moved;
}

int64_t ChunkCuts::Start(size_t i) const {
  const size_t group = i >> kGroupBits;
  int64_t start = groupStarts_[group];
  for (size_t j = group << kGroupBits; j < i; ++j)
    start += (cuts_[j] & kLengthMask) + 1;
  return start;
}

size_t ChunkCuts::FirstEndingAfter(int64_t offset) const {
  if (cuts_.empty() || offset >= end_) return Count();
  if (offset < 0) return 0;
  const int64_t* groups = groupStarts_.data();
  const size_t group =
      static_cast<size_t>(std::upper_bound(groups, groups + groupStarts_.size(), offset) - groups) -
      1;
  size_t i = group << kGroupBits;
  int64_t end = groups[group];
  for (; i < Count(); ++i) {
    end += Length(i);
    if (end > offset) break;
  }
  return i;
}

void ChunkCuts::Add(int64_t end, int level) {
  if ((cuts_.size() & ((size_t{1} << kGroupBits) - 1)) == 0) groupStarts_.push_back(end_);
  cuts_.push_back(static_cast<uint16_t>((end - end_ - 1) | (level << kLevelShift)));
  end_ = end;
}

void ChunkCuts::Shrink() {
  cuts_.Shrink();
  groupStarts_.Shrink();
}

void ChunkCuts::Reserve(size_t chunks) {
  cuts_.Reserve(chunks);
  groupStarts_.Reserve((chunks >> kGroupBits) + 1);
}

ChunkCutter::ChunkCutter(std::span<const uint8_t> data, ZeroRunSink* zeros)
    : data_(data), zeros_(zeros) {}

bool ChunkCutter::Next(int64_t& end, int& level) {
  const auto size = static_cast<int64_t>(data_.size());
  if (pos_ >= size) return false;
  if (pos_ + kMaxChunk > prefaulted_) {
    const int64_t from = std::max(pos_, prefaulted_);
    const int64_t len = std::min(kPrefaultPiece, size - from);
    PrefaultForReading(data_.subspan(static_cast<size_t>(from), static_cast<size_t>(len)));
    prefaulted_ = from + len;
  }
  std::tie(end, level) = NextCut(pos_);
  if (end == size) level = kTopChunkLevel;
  // A range that would grow past its longest is cut here.
  for (int k = std::max(level, 0) + 1; k <= kTopChunkLevel; ++k) {
    if (end - lastCut_[k] > MaxRangeLength(k) - kMaxChunk) level = k;
  }
  level = std::max(level, 0);
  for (int k = 0; k <= level; ++k)
    lastCut_[k] = end;
  pos_ = end;
  return true;
}

// The end of the small chunk starting at `start`, and the natural level of
// that cut (-1 for a forced cut at kMaxChunk or the end of the data).
std::pair<int64_t, int> ChunkCutter::NextCut(int64_t start) {
  const auto size = static_cast<int64_t>(data_.size());
  const int64_t limit = std::min(size, start + kMaxChunk);
  if (limit - start <= kMinChunk) return {limit, -1};
  const uint8_t* data = data_.data();
  // Only the last 64 bytes count, so hashing starts 64 bytes before the
  // first place a cut may fall.
  static_assert(kMinChunk >= 64);
  int64_t i = start + kMinChunk - 64;
  uint64_t h = 0;
  if (ZeroBlock(data + i)) {
    h = kZeroHash;
    i = SkipZeros(i + 64, limit);
  } else {
    for (; i < start + kMinChunk; ++i)
      h = (h << 1) + kGear[data[i]];
  }
  for (;;) {
    // Two bytes a step: the hash after both is formed from the hash before
    // them directly, which halves the chain of dependent additions.
    const int64_t blockEnd = std::min(limit - 1, i + 64);
    for (; i < blockEnd; i += 2) {
      const uint64_t g0 = kGear[data[i]];
      const uint64_t g1 = kGear[data[i + 1]];
      const uint64_t first = (h << 1) + g0;
      h = (h << 2) + ((g0 << 1) + g1);
      if ((first & kCutMask) == 0) return {i + 1, LevelOfHash(first)};
      if ((h & kCutMask) == 0) return {i + 2, LevelOfHash(h)};
    }
    if (i >= limit - 1) break;
    // Looked at every 64 bytes, so a run of zeros is hashed for at most 127
    // of its bytes: after 64 the hash is kZeroHash and stays so to its end.
    if (h == kZeroHash) i = SkipZeros(i, limit);
  }
  if (i < limit) {
    h = (h << 1) + kGear[data[i]];
    if ((h & kCutMask) == 0) return {i + 1, LevelOfHash(h)};
  }
  return {limit, -1};
}

// Steps over the zeros from `from` up to `limit`: the first nonzero byte's
// offset, or limit. The run is followed to its end even past limit, once, so
// the chunks after it step over it without looking again.
int64_t ChunkCutter::SkipZeros(int64_t from, int64_t limit) {
  if (zeroRunStart_ <= from && from < zeroRunEnd_) return std::min(limit, zeroRunEnd_);
  const uint8_t* data = data_.data();
  const auto size = static_cast<int64_t>(data_.size());
  int64_t end = from;
  while (end + 64 <= size && ZeroBlock(data + end))
    end += 64;
  while (end < size && data[end] == 0)
    ++end;
  // The zeros hashed before belong to the run too; they lie after the last
  // run, which ended at a nonzero byte.
  int64_t start = from;
  while (start > zeroRunEnd_ && data[start - 1] == 0)
    --start;
  zeroRunStart_ = start;
  zeroRunEnd_ = end;
  if (zeros_ != nullptr && end > start) zeros_->ZeroRun(start, end);
  return std::min(limit, end);
}

ChunkCuts CutChunks(std::span<const uint8_t> data, WorkProgress* progress, ZeroRunSink* zeros) {
  ChunkCuts cuts;
  // Chunks average about 380 bytes on varied data; runs of one value make
  // fewer, and a longer list grows without copying.
  cuts.Reserve(data.size() / 256 + 1);
  ChunkCutter cutter(data, zeros);
  int64_t end = 0;
  int level = 0;
  while (cutter.Next(end, level)) {
    cuts.Add(end, level);
    if (progress != nullptr && cuts.Count() % kChunksPerReport == 0) {
      progress->SetDone(end);
      if (progress->StopRequested()) break;
    }
  }
  cuts.Shrink();
  return cuts;
}

std::vector<ChunkRange> RangesOfLevel(const ChunkCuts& cuts, int level, int64_t start,
                                      int64_t end) {
  std::vector<ChunkRange> ranges;
  size_t i = cuts.FirstEndingAfter(start);
  if (i == cuts.Count()) return ranges;
  int64_t from = start;
  int64_t at = cuts.Start(i);
  for (; i < cuts.Count(); ++i) {
    at += cuts.Length(i);
    if (at > end) break;
    if (cuts.Level(i) >= level || at == end) {
      ranges.push_back({from, at - from});
      from = at;
      if (at == end) break;
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
  const uint64_t hash = XXH3_64bits(bytes.data(), bytes.size());
  ClearUpperVectorState();
  return hash;
}

}  // namespace kelpie
