// A counting sort of all offsets by bucket: one pass counts the bucket sizes,
// a prefix sum turns counts into bucket starts, a second pass in ascending
// offset order drops each offset into its bucket, which keeps every bucket
// sorted. The second pass advances each start to its bucket's end, so the
// starts are shifted back by one bucket afterwards instead of keeping a copy.
#include "compare/range_index.h"

#include <algorithm>
#include <bit>

#include "compare/four_byte_scan.h"

namespace kelpie {
namespace {

constexpr int kMinBits = 8;
constexpr int kMaxBits = 24;
// One bucket per this many data bytes.
constexpr int kBytesPerBucketBits = 4;

int BucketBits(size_t size) {
  const int bits = static_cast<int>(std::bit_width(size)) - kBytesPerBucketBits;
  return std::clamp(bits, kMinBits, kMaxBits);
}

}  // namespace

RangeIndex::RangeIndex(std::span<const uint8_t> data)
    : bits_(BucketBits(data.size())), starts_((size_t{1} << bits_) + 1) {
  if (data.size() < 4) return;
  const size_t count = data.size() - 3;
  const uint8_t* bytes = data.data();
  for (size_t i = 0; i < count; ++i)
    ++starts_[BucketOf(LoadFourBytes(bytes + i)) + 1];
  for (size_t b = 1; b < starts_.size(); ++b)
    starts_[b] += starts_[b - 1];
  offsets_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    offsets_[starts_[BucketOf(LoadFourBytes(bytes + i))]++] = static_cast<uint32_t>(i);
  }
  for (size_t b = starts_.size() - 1; b > 0; --b)
    starts_[b] = starts_[b - 1];
  starts_[0] = 0;
}

std::span<const uint32_t> RangeIndex::Bucket(uint32_t value) const {
  if (offsets_.empty()) return {};
  const uint32_t b = BucketOf(value);
  return std::span<const uint32_t>(offsets_).subspan(starts_[b], starts_[b + 1] - starts_[b]);
}

size_t RangeIndex::MemoryBytes() const {
  return (starts_.size() + offsets_.size()) * sizeof(uint32_t);
}

uint32_t RangeIndex::BucketOf(uint32_t value) const {
  return (value * 0x9e3779b1u) >> (32 - bits_);
}

}  // namespace kelpie
