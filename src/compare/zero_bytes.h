#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace kelpie {

// Runs of zeros this long, aligned to it in a file, are left as holes.
inline constexpr int64_t kHolePage = 4096;

inline bool AllZero(std::span<const uint8_t> bytes) {
  // Each byte equals the next and the first is zero.
  return bytes.empty() ||
         (bytes[0] == 0 && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0);
}

// Calls store(offset, run) for the runs of bytes, meant for `offset` onward
// in a file, that are not whole kHolePage-aligned pages of zeros. False when
// a store fails.
template <typename Store>
bool ForEachDataPiece(int64_t offset, std::span<const uint8_t> bytes, Store store) {
  size_t runStart = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    const int64_t at = offset + static_cast<int64_t>(done);
    const auto len =
        std::min<size_t>(bytes.size() - done, static_cast<size_t>(kHolePage - at % kHolePage));
    if (AllZero(bytes.subspan(done, len))) {
      if (done > runStart && !store(offset + static_cast<int64_t>(runStart),
                                    bytes.subspan(runStart, done - runStart))) {
        return false;
      }
      runStart = done + len;
    }
    done += len;
  }
  return done == runStart ||
         store(offset + static_cast<int64_t>(runStart), bytes.subspan(runStart, done - runStart));
}

}  // namespace kelpie
