// How repeated content is skipped without hashing.
//
// Candidates arrive in ascending order and every one before the current
// candidate was rejected (else the search would have stopped). If the data
// repeats at distance d from offset i for len bytes -- data[k] == data[k-d]
// for k in [i, i+len) -- then window(i) == window(i-d), and i-d is an earlier
// candidate, so i is rejected without an MD5. Where the repetition goes on
// to offset e, every candidate up to e-len repeats one d bytes before it and
// is skipped in one step; a run of zeros costs one byte comparison per byte.
//
// Two distances are tried: to the previous candidate (runs of one value,
// short periods) and to the last rejected candidate whose window had the same
// sampled bytes (longer periods with several candidates in each).
//
// When a window holding the wanted bytes is already known, a candidate is
// compared with it instead of hashed; unlike windows usually differ within a
// few bytes.
#include "compare/window_sieve.h"

#include <algorithm>

#include "compare/four_byte_scan.h"

namespace kelpie {

WindowSieve::WindowSieve(std::span<const uint8_t> data, int64_t len, const Md5Digest& digest,
                         SearchBudget& budget)
    : data_(data), len_(len), digest_(digest), budget_(budget) {
  rejected_.fill(-1);
  // Spread over the window past its first four bytes, which all candidates share.
  const auto last = static_cast<int64_t>(samples_.size() - 1);
  for (int64_t t = 0; t <= last; ++t)
    samples_[static_cast<size_t>(t)] = 4 + t * (len - 5) / last;
}

WindowSieve::WindowSieve(std::span<const uint8_t> data, int64_t len, int64_t known,
                         SearchBudget& budget)
    : WindowSieve(data, len, Md5Digest{}, budget) {
  known_ = known;
}

WindowSieve::Verdict WindowSieve::Check(int64_t offset) {
  if (!budget_.Take(kCandidateCost)) return {Outcome::kOutOfBudget, offset};
  int64_t resumeAt = offset + 1;
  const uint32_t key = SampleKey(offset);
  const int64_t earlier = rejected_[key];
  const bool repeats =
      (previous_ >= 0 && RepeatsAt(offset, previous_, resumeAt)) ||
      (earlier >= 0 && earlier != previous_ && RepeatsAt(offset, earlier, resumeAt));
  if (!repeats) {
    bool affordable = true;
    if (Wanted(offset, affordable)) return {Outcome::kMatch, offset};
    if (!affordable) return {Outcome::kOutOfBudget, offset};
  }
  previous_ = offset;
  rejected_[key] = offset;
  return {Outcome::kRejected, resumeAt};
}

bool WindowSieve::Wanted(int64_t offset, bool& affordable) {
  if (known_ >= 0) {
    const int64_t end = FirstDifference(data_, known_, known_ - offset, known_ + len_);
    budget_.TakeScanned(end - known_ + 1);
    return end == known_ + len_;
  }
  if (!budget_.TakeHash(len_)) {
    affordable = false;
    return false;
  }
  ++hashed_;
  const auto window = data_.subspan(static_cast<size_t>(offset), static_cast<size_t>(len_));
  return RangeDigest(window) == digest_;
}

uint32_t WindowSieve::SampleKey(int64_t offset) const {
  uint64_t bytes = 0;
  for (int64_t sample : samples_)
    bytes = bytes << 8 | data_[static_cast<size_t>(offset + sample)];
  return static_cast<uint32_t>((bytes * 0x9e3779b97f4a7c15ull) >> (64 - kTableBits));
}

bool WindowSieve::RepeatsAt(int64_t offset, int64_t earlier, int64_t& resumeAt) {
  // A repetition is followed only as far as the budget pays for; stopping
  // early merely skips fewer candidates.
  const auto size = static_cast<int64_t>(data_.size());
  const int64_t limit = offset + std::min(size - offset, std::max(len_, budget_.ScannableBytes()));
  const int64_t end = FirstDifference(data_, offset, offset - earlier, limit);
  budget_.TakeScanned(end - offset + 1);
  if (end < offset + len_) return false;
  resumeAt = end - len_ + 1;
  return true;
}

}  // namespace kelpie
