#pragma once

#include <cstdint>

namespace kelpie {

// Zigzag coding maps signed numbers to unsigned ones so that small values of
// either sign stay small: 0, -1, 1, -2 become 0, 1, 2, 3. Varints of offsets
// relative to one another use it.
inline uint64_t ZigZag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

inline int64_t UnZigZag(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

}  // namespace kelpie
