#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace kelpie {

// The four bytes at p as a little-endian number (what StartLong reads when
// all four lie inside the data).
inline uint32_t LoadFourBytes(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap32(value);
  return value;
}

// The instructions the scans use; tests ask for each level to cover every
// path. A level the processor lacks falls back to the portable code.
enum class ScanLevel { kPortable, kSse2, kAvx2 };

// The widest level this processor runs.
ScanLevel BestScanLevel();

// The lowest offset i in [from, last] whose four bytes read as value, or -1.
// The caller keeps last + 4 <= data.size().
int64_t FindFourBytes(std::span<const uint8_t> data, int64_t from, int64_t last, uint32_t value,
                      ScanLevel level = BestScanLevel());

// The lowest k in [from, limit) with data[k] != data[k - distance], or limit
// when the data repeats itself at that distance over the whole stretch.
// The caller keeps 0 < distance <= from and limit <= data.size().
int64_t FirstDifference(std::span<const uint8_t> data, int64_t from, int64_t distance,
                        int64_t limit, ScanLevel level = BestScanLevel());

}  // namespace kelpie
