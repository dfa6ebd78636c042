#include "compare/chunk_index.h"

#include <bit>

#include "common/zigzag.h"
#include "compare/content_chunks.h"

namespace kelpie {
namespace {

bool OwnOffsetHolds(std::span<const uint8_t> data, const RangeCheck& check, int64_t& hashBudget) {
  const auto size = static_cast<int64_t>(data.size());
  if (check.start < 0 || check.len <= 0 || check.start > size - check.len) return false;
  if (hashBudget < check.len) return false;
  hashBudget -= check.len;
  return RangeHash(data.subspan(static_cast<size_t>(check.start),
                                static_cast<size_t>(check.len))) == check.hash;
}

}  // namespace

ChunkIndex::ChunkIndex(std::span<const uint8_t> data) : data_(data) {
  const ChunkCuts cuts = CutChunks(data);
  size_t ranges = 0;
  for (size_t i = 0; i < cuts.Count(); ++i)
    ranges += static_cast<size_t>(cuts.Level(i)) + 1;
  // At most two thirds full, so a look-up meets few other slots.
  slots_.resize(std::bit_ceil(ranges + ranges / 2 + 1));
  std::array<int64_t, kTopChunkLevel + 1> from{};
  int64_t end = 0;
  for (size_t i = 0; i < cuts.Count(); ++i) {
    end += cuts.Length(i);
    const int level = cuts.Level(i);
    for (int k = 0; k <= level; ++k) {
      // A range equal to the one below it is already in the table.
      if (k == 0 || from[k] != from[k - 1]) {
        Insert(RangeHash(
                   data.subspan(static_cast<size_t>(from[k]), static_cast<size_t>(end - from[k]))),
               from[k], end - from[k]);
      }
    }
    for (int k = 0; k <= level; ++k)
      from[k] = end;
  }
}

void ChunkIndex::Insert(uint64_t hash, int64_t offset, int64_t len) {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.offset < 0) {
      slot = {hash, offset, len};
      ++count_;
      return;
    }
    // The first of equal ranges is kept.
    if (slot.hash == hash && slot.len == len) return;
  }
}

int64_t ChunkIndex::Find(const RangeCheck& check, int64_t& hashBudget) const {
  if (check.len <= 0) return -1;
  int64_t found = -1;
  const size_t mask = slots_.size() - 1;
  for (size_t i = check.hash & mask; slots_[i].offset >= 0; i = (i + 1) & mask) {
    if (slots_[i].hash == check.hash && slots_[i].len == check.len) {
      found = slots_[i].offset;
      break;
    }
  }
  if (found == check.start) return found;
  // Repeated content (zeros, records) is indexed once; the range's own
  // offset still wins when the bytes there are the same.
  if (OwnOffsetHolds(data_, check, hashBudget)) return check.start;
  return found;
}

int64_t FoundCode(int64_t found, int64_t start) {
  if (found < 0) return 0;
  return static_cast<int64_t>(
      ZigZag(static_cast<int64_t>(static_cast<uint64_t>(found) - static_cast<uint64_t>(start))) +
      1);
}

int64_t FoundFromCode(int64_t code, int64_t start) {
  if (code <= 0) return -1;
  const int64_t delta = UnZigZag(static_cast<uint64_t>(code - 1));
  const auto found =
      static_cast<int64_t>(static_cast<uint64_t>(start) + static_cast<uint64_t>(delta));
  return found < 0 ? -1 : found;
}

}  // namespace kelpie
