#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "compare/fingerprint.h"

namespace kelpie {

// Decides, candidate by candidate in ascending order, whether the window of
// len bytes at a candidate offset has the wanted MD5, hashing only windows
// that differ from every window already rejected. Works for one search.
class WindowSieve {
 public:
  // len >= 5: shorter windows are decided by their four start bytes alone.
  WindowSieve(std::span<const uint8_t> data, int64_t len, const Md5Digest& digest);

  struct Verdict {
    bool match;
    // When no match: the next offset that can still hold one; offsets in
    // between repeat windows already rejected.
    int64_t resumeAt;
  };

  // offset: a candidate whose four bytes equal the wanted start, above every
  // earlier candidate; offset + len <= data.size().
  Verdict Check(int64_t offset);

  int64_t hashed() const { return hashed_; }

 private:
  static constexpr int kTableBits = 10;

  uint32_t SampleKey(int64_t offset) const;
  bool RepeatsAt(int64_t offset, int64_t earlier, int64_t& resumeAt) const;

  std::span<const uint8_t> data_;
  int64_t len_;
  Md5Digest digest_;
  std::array<int64_t, 8> samples_{};
  // The last rejected candidate with each sample key.
  std::array<int64_t, size_t{1} << kTableBits> rejected_;
  int64_t previous_ = -1;
  int64_t hashed_ = 0;
};

}  // namespace kelpie
