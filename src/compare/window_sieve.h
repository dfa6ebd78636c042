#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "compare/fingerprint.h"
#include "compare/search_budget.h"

namespace kelpie {

// Decides, candidate by candidate in ascending order, whether the window of
// len bytes at a candidate offset is the one wanted, looking closely only at
// windows that differ from every window already rejected. What it does is
// charged to a budget. Works for one search.
class WindowSieve {
 public:
  // Wants the window with this MD5. len >= 5: shorter windows are decided by
  // their four start bytes alone.
  WindowSieve(std::span<const uint8_t> data, int64_t len, const Md5Digest& digest,
              SearchBudget& budget);
  // Wants a window holding the same bytes as the one at `known`, which is
  // compared instead of hashed; every candidate lies below known.
  WindowSieve(std::span<const uint8_t> data, int64_t len, int64_t known, SearchBudget& budget);

  enum class Outcome { kMatch, kRejected, kOutOfBudget };
  struct Verdict {
    Outcome outcome;
    // When rejected: the next offset that can still hold a match; offsets in
    // between repeat windows already rejected.
    int64_t resumeAt;
  };

  // offset: a candidate whose four bytes equal the wanted start, above every
  // earlier candidate; offset + len <= data.size().
  Verdict Check(int64_t offset);

  int64_t hashed() const { return hashed_; }
  int64_t len() const { return len_; }
  // Whether candidates are hashed (else compared with a known window).
  bool hashes() const { return known_ < 0; }

 private:
  static constexpr int kTableBits = 10;
  // Reading the samples and the table, in budget units.
  static constexpr int64_t kCandidateCost = 4;

  uint32_t SampleKey(int64_t offset) const;
  bool RepeatsAt(int64_t offset, int64_t earlier, int64_t& resumeAt);
  bool Wanted(int64_t offset, bool& affordable);

  std::span<const uint8_t> data_;
  int64_t len_;
  Md5Digest digest_{};
  int64_t known_ = -1;
  SearchBudget& budget_;
  std::array<int64_t, 8> samples_{};
  // The last rejected candidate with each sample key.
  std::array<int64_t, size_t{1} << kTableBits> rejected_;
  int64_t previous_ = -1;
  int64_t hashed_ = 0;
};

}  // namespace kelpie
