#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelpie {

// Every offset of a buffer at which four whole bytes start, grouped by a hash
// of those four bytes, ascending within each group. Memory: four bytes per
// data byte for the offsets plus four per bucket (one bucket per 16 data
// bytes), about 4.25 bytes per data byte; buffers below 2^32 bytes.
class RangeIndex {
 public:
  explicit RangeIndex(std::span<const uint8_t> data);

  // Ascending offsets whose four bytes hash like value (a superset of the
  // offsets holding value; callers compare the bytes).
  std::span<const uint32_t> Bucket(uint32_t value) const;

  size_t MemoryBytes() const;

 private:
  uint32_t BucketOf(uint32_t value) const;

  int bits_;
  // Bucket b holds offsets_[starts_[b], starts_[b + 1]).
  std::vector<uint32_t> starts_;
  std::vector<uint32_t> offsets_;
};

}  // namespace kelpie
