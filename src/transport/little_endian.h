#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kelpie {

// Explicit little-endian access to wire bytes; callers check bounds first.

inline uint16_t ReadU16(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline int32_t ReadI32(std::span<const uint8_t> bytes, size_t offset) {
  uint32_t v = static_cast<uint32_t>(bytes[offset]) |
               (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
               (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
               (static_cast<uint32_t>(bytes[offset + 3]) << 24);
  return static_cast<int32_t>(v);
}

inline void WriteU16(std::span<uint8_t> bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteI32(std::span<uint8_t> bytes, size_t offset, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  bytes[offset] = static_cast<uint8_t>(v);
  bytes[offset + 1] = static_cast<uint8_t>(v >> 8);
  bytes[offset + 2] = static_cast<uint8_t>(v >> 16);
  bytes[offset + 3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t ReadU32(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint32_t>(ReadI32(bytes, offset));
}

inline uint64_t ReadU64(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint64_t>(ReadU32(bytes, offset)) |
         (static_cast<uint64_t>(ReadU32(bytes, offset + 4)) << 32);
}

inline void WriteU32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
  WriteI32(bytes, offset, static_cast<int32_t>(value));
}

inline void WriteU64(std::span<uint8_t> bytes, size_t offset, uint64_t value) {
  WriteU32(bytes, offset, static_cast<uint32_t>(value));
  WriteU32(bytes, offset + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace kelpie
