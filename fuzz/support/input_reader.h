#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelpie::fuzz {

// Reads a fuzz input front to back; past its end every value reads as 0 and
// every byte run as empty, so any input is a valid script.
class InputReader {
 public:
  explicit InputReader(std::span<const uint8_t> input) : input_(input) {}

  bool empty() const { return at_ >= input_.size(); }
  uint8_t U8() { return empty() ? 0 : input_[at_++]; }
  uint16_t U16() {
    const uint16_t low = U8();
    return static_cast<uint16_t>(low | (U8() << 8));
  }
  // At most count bytes, fewer at the end of the input.
  std::span<const uint8_t> Bytes(size_t count) {
    std::span<const uint8_t> bytes = input_.subspan(at_, std::min(count, input_.size() - at_));
    at_ += bytes.size();
    return bytes;
  }
  std::span<const uint8_t> Rest() { return Bytes(input_.size()); }

 private:
  std::span<const uint8_t> input_;
  size_t at_ = 0;
};

}  // namespace kelpie::fuzz
