#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "compare/range_index_memory.h"

namespace kelpie {

class WorkProgress;

// Every offset of a buffer at which four whole bytes start, grouped by a hash
// of those four bytes, ascending within each group. Memory: four bytes per
// data byte for the offsets plus four per bucket (one bucket per 8 to 16 data
// bytes), at most 4.5 bytes per data byte, and while it is built two more per
// data byte; buffers below 2^32 bytes.
class RangeIndex {
 public:
  // With progress, the build reports how far it got and gives up when told
  // to stop.
  explicit RangeIndex(std::span<const uint8_t> data, WorkProgress* progress = nullptr);

  // False when the memory could not be had, or the build was stopped; the
  // index is then unusable.
  bool ok() const { return ok_; }

  // Ascending offsets whose four bytes hash like value (a superset of the
  // offsets holding value; callers compare the bytes).
  std::span<const uint32_t> Bucket(uint32_t value) const;

  size_t MemoryBytes() const;

 private:
  uint32_t BucketOf(uint32_t value) const;
  // Offsets grouped by their buckets' high bits; returns the group starts
  // and stores each offset's low bucket bits in fine.
  // Both steps return false when the build is to stop.
  bool GroupByCoarseBits(std::span<const uint8_t> data, int fineBits, std::span<uint16_t> fine,
                         std::vector<uint32_t>& groupStarts);
  bool SortGroupsByFineBits(std::span<const uint32_t> groupStarts, int fineBits,
                            std::span<const uint16_t> fine);
  // Says how far the build got (steps counts offsets handled, three per
  // offset in all); false when it is to stop.
  bool Report(size_t steps) const;

  int bits_;
  bool ok_ = false;
  WorkProgress* progress_;
  // Bucket b holds offsets_[starts_[b], starts_[b + 1]).
  IndexArray<uint32_t> starts_;
  IndexArray<uint32_t> offsets_;
};

}  // namespace kelpie
