#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelpie::bench {

// A bare TCP client on loopback that speaks frames by hand, for sending a
// server what no well-behaved peer sends and timing its answers.
class RawLink {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RawLink(int port);
  ~RawLink();
  RawLink(const RawLink&) = delete;
  RawLink& operator=(const RawLink&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool Send(std::span<const uint8_t> payload);
  // The next whole frame's payload; nothing when the deadline passes or the
  // connection ends first.
  std::optional<std::vector<uint8_t>> Receive(Clock::time_point deadline);

 private:
  std::optional<std::vector<uint8_t>> TakeFrame();

  int fd_ = -1;
  std::vector<uint8_t> held_;
};

}  // namespace kelpie::bench
