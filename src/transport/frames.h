#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "transport/endpoints.h"

namespace kelpie {

// Frame: 16-bit little-endian payload length, the payload, one zero byte.
inline constexpr int32_t kMaxPayload = 32767;
inline constexpr int32_t kFrameOverhead = 3;
inline constexpr int32_t kReceiveInitialCapacity = 2048;
inline constexpr int32_t kReceiveGrowStep = 1024;

// Bytes received on one connection and not yet taken out as frames.
struct ReceiveBuffer {
  ConnectionId connection = 0;
  std::vector<uint8_t> buffer;  // size() is the capacity
  int32_t capacity = 0;
  int32_t fill = 0;
};

// Delivers the frame at the head of record's held bytes into payload and
// returns its length, or returns 0 when none is whole yet. Needs no
// connection, so the reassembly can be driven from memory.
int32_t TakeFrame(ReceiveBuffer& record, std::vector<uint8_t>& payload);

// The frame layer of one program: sends frames and reassembles the received
// byte stream of each connection into whole payloads.
class Frames {
 public:
  explicit Frames(Network& network);
  ~Frames();  // stops listening for closed connections
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;

  // Sends one frame; a payload over kMaxPayload is refused (-1). Else 0.
  int32_t SendFrame(ConnectionId id, std::span<const uint8_t> payload);
  // Length of the payload just delivered into ReceivedFrame(), or 0 when no
  // whole frame is available now. Never blocks.
  int32_t ReceiveFrame(ConnectionId id);
  // The last delivered payload; valid until the next ReceiveFrame.
  std::span<const uint8_t> ReceivedFrame() const;
  void FreeFrameBuffers();

  // Inspection, for tests.
  const ReceiveBuffer* FindBuffer(ConnectionId id) const;
  int32_t BufferCount() const;

 private:
  void Forget(ConnectionId id);

  Network& network_;
  std::vector<ReceiveBuffer> ReceiveBuffers;
  std::vector<uint8_t> receivedFrame_;
};

}  // namespace kelpie
