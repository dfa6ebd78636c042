#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace kelpie::bench {

using Clock = std::chrono::steady_clock;

// One direction of a proxied connection: what is read from one socket waits
// in a queue until its due time (read time + delay), then goes to the other
// socket. The end of the stream waits its turn the same way, so the far side
// sees the close as late as it sees the bytes.
class DelayedPipe {
 public:
  DelayedPipe(int from, int to, Clock::duration delay) : from_(from), to_(to), delay_(delay) {}

  // Reads everything `from` holds now, up to the queue bound. False when the
  // connection failed.
  bool Read(Clock::time_point now);
  // Writes every due chunk `to` takes now. False when the connection failed.
  bool Write(Clock::time_point now);

  bool WantsRead() const { return !ended_ && queued_ < kMaxQueued; }
  // A chunk is due but the socket did not take it all: wait for room.
  bool WantsWrite(Clock::time_point now) const;
  // When the next chunk falls due, if it is not due yet.
  std::optional<Clock::time_point> NextDue(Clock::time_point now) const;
  // The stream ended and its end went through.
  bool Done() const { return ended_ && queue_.empty(); }

 private:
  // Bounds memory; at loopback speeds it still exceeds any rate times delay
  // the benchmarks meet, so the queue does not throttle.
  static constexpr size_t kMaxQueued = 64u << 20;
  static constexpr size_t kReadSize = 256u << 10;

  struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;  // empty: the end of the stream
    size_t sent = 0;
  };
  enum class Sent { All, Blocked, Failed };
  Sent WriteFront();

  int from_;
  int to_;
  Clock::duration delay_;
  std::deque<Chunk> queue_;
  std::vector<char> buffer_ = std::vector<char>(kReadSize);  // each read lands here first
  size_t queued_ = 0;
  bool ended_ = false;  // the end of the stream was read
};

}  // namespace kelpie::bench
