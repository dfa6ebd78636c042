// A two-level counting sort of all offsets by bucket. Dropping 64 Mi offsets
// straight into 8 Mi buckets would miss the cache and the TLB on nearly every
// write, so the offsets are first grouped by the high bits of their bucket
// (a few thousand write positions, on huge pages), keeping the low bits
// beside them, and then each group, small enough for the cache, is sorted by
// those low bits. Both steps are stable counting sorts over ascending
// offsets, so every bucket ends up in ascending order.
#include "compare/range_index.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "compare/background_work.h"
#include "compare/four_byte_scan.h"

namespace kelpie {
namespace {

constexpr int kMinBits = 8;
constexpr int kMaxBits = 24;
// One bucket per this many data bytes.
constexpr int kBytesPerBucketBits = 4;
// Bucket bits settled in the second step, within one group.
constexpr int kFineBits = 12;
// Offsets handled between two looks at whether the build is to stop: a few
// milliseconds' work.
constexpr size_t kReportEvery = size_t{1} << 20;

int BucketBits(size_t size) {
  const int bits = static_cast<int>(std::bit_width(size)) - kBytesPerBucketBits;
  return std::clamp(bits, kMinBits, kMaxBits);
}

}  // namespace

RangeIndex::RangeIndex(std::span<const uint8_t> data, WorkProgress* progress)
    : bits_(BucketBits(data.size())), progress_(progress) {
  const size_t count = data.size() < 4 ? 0 : data.size() - 3;
  if (count > UINT32_MAX) return;  // Offsets are stored in 32 bits.
  if (count == 0) {
    ok_ = true;
    return;
  }
  starts_ = IndexArray<uint32_t>((size_t{1} << bits_) + 1);
  offsets_ = IndexArray<uint32_t>(count);
  IndexArray<uint16_t> fine(count);
  if (starts_.size() == 0 || offsets_.size() == 0 || fine.size() == 0) return;
  const int fineBits = std::min(bits_, kFineBits);
  std::vector<uint32_t> groupStarts;
  if (!GroupByCoarseBits(data, fineBits, fine.span(), groupStarts)) return;
  if (!SortGroupsByFineBits(groupStarts, fineBits, fine.span())) return;
  starts_[starts_.size() - 1] = static_cast<uint32_t>(count);
  ok_ = true;
}

bool RangeIndex::Report(size_t steps) const {
  if (progress_ == nullptr) return true;
  progress_->SetDone(static_cast<int64_t>(steps / 3));
  return !progress_->StopRequested();
}

bool RangeIndex::GroupByCoarseBits(std::span<const uint8_t> data, int fineBits,
                                   std::span<uint16_t> fine, std::vector<uint32_t>& groupStarts) {
  const size_t count = fine.size();
  const uint8_t* bytes = data.data();
  groupStarts.assign((size_t{1} << (bits_ - fineBits)) + 1, 0);
  for (size_t i = 0; i < count; ++i) {
    if (i % kReportEvery == 0 && !Report(i)) return false;
    ++groupStarts[(BucketOf(LoadFourBytes(bytes + i)) >> fineBits) + 1];
  }
  for (size_t g = 1; g < groupStarts.size(); ++g)
    groupStarts[g] += groupStarts[g - 1];
  std::vector<uint32_t> next(groupStarts.begin(), groupStarts.end() - 1);
  const uint32_t fineMask = (uint32_t{1} << fineBits) - 1;
  for (size_t i = 0; i < count; ++i) {
    if (i % kReportEvery == 0 && !Report(count + i)) return false;
    const uint32_t bucket = BucketOf(LoadFourBytes(bytes + i));
    const uint32_t at = next[bucket >> fineBits]++;
    offsets_[at] = static_cast<uint32_t>(i);
    fine[at] = static_cast<uint16_t>(bucket & fineMask);
  }
  return true;
}

bool RangeIndex::SortGroupsByFineBits(std::span<const uint32_t> groupStarts, int fineBits,
                                      std::span<const uint16_t> fine) {
  std::vector<uint32_t> counts(size_t{1} << fineBits);
  std::vector<uint32_t> sorted;
  const size_t count = fine.size();
  size_t reported = 0;
  for (size_t g = 0; g + 1 < groupStarts.size(); ++g) {
    const uint32_t begin = groupStarts[g];
    const uint32_t end = groupStarts[g + 1];
    if (begin >= reported + kReportEvery) {
      reported = begin;
      if (!Report(2 * count + begin)) return false;
    }
    std::fill(counts.begin(), counts.end(), 0);
    for (uint32_t k = begin; k < end; ++k)
      ++counts[fine[k]];
    uint32_t running = 0;
    for (size_t f = 0; f < counts.size(); ++f) {
      starts_[g << fineBits | f] = begin + running;
      running += std::exchange(counts[f], running);
    }
    sorted.resize(end - begin);
    for (uint32_t k = begin; k < end; ++k)
      sorted[counts[fine[k]]++] = offsets_[k];
    std::copy(sorted.begin(), sorted.end(), offsets_.data() + begin);
  }
  return true;
}

std::span<const uint32_t> RangeIndex::Bucket(uint32_t value) const {
  if (offsets_.size() == 0) return {};
  const uint32_t b = BucketOf(value);
  return offsets_.span().subspan(starts_[b], starts_[b + 1] - starts_[b]);
}

size_t RangeIndex::MemoryBytes() const {
  return (starts_.size() + offsets_.size()) * sizeof(uint32_t);
}

uint32_t RangeIndex::BucketOf(uint32_t value) const {
  return (value * 0x9e3779b1u) >> (32 - bits_);
}

}  // namespace kelpie
