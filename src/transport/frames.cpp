// Frames and their reassembly.
//
// Each connection has a ReceiveBuffer holding the bytes received and not yet
// taken out, always starting at offset 0. A call of ReceiveFrame reads once
// (only when bytes are pending, so it never blocks), then looks at the head of
// the held bytes: a zero length word is not a frame head, so leading bytes are
// dropped until one is (three at a time for an empty frame 00 00 00, else
// one); a frame larger than the block grows the block by one step per call; a
// whole frame with a zero end byte is delivered into ReceivedFrame and the
// bytes behind it move down; a wrong end byte or a length word with its top bit
// set means the stream is out of step, and everything held is discarded.

#include "transport/frames.h"

#include <algorithm>
#include <cstring>

#include "transport/little_endian.h"

namespace kelpie {

namespace {

// Removes the first count held bytes, moving the rest down to offset 0.
void Drop(ReceiveBuffer& record, int32_t count) {
  std::memmove(record.buffer.data(), record.buffer.data() + count,
               static_cast<size_t>(record.fill - count));
  record.fill -= count;
}

// Drops leading bytes while the length word is zero. The whole run is counted
// first and moved once, so a long run of zeros costs one move, not one each.
void Resynchronise(ReceiveBuffer& record) {
  std::span<const uint8_t> held(record.buffer.data(), static_cast<size_t>(record.fill));
  int32_t skip = 0;
  while (record.fill - skip >= kFrameOverhead && ReadU16(held, static_cast<size_t>(skip)) == 0) {
    skip += held[static_cast<size_t>(skip) + 2] == 0 ? kFrameOverhead : 1;
  }
  if (skip > 0) Drop(record, skip);
}

// One receive into the free end of the block, only when bytes are pending.
void ReadPending(Network& network, ReceiveBuffer& record) {
  if (network.ConnectionPoll(record.connection) != 2) return;
  int32_t room = record.capacity - record.fill;
  int32_t read =
      network.ConnectionReceive(record.connection, record.buffer.data() + record.fill, room);
  if (read > 0) record.fill += std::min(read, room);
}

}  // namespace

int32_t TakeFrame(ReceiveBuffer& record, std::vector<uint8_t>& payload) {
  if (record.fill < kFrameOverhead) return 0;
  Resynchronise(record);
  if (record.fill < kFrameOverhead) return 0;

  std::span<const uint8_t> held(record.buffer.data(), static_cast<size_t>(record.fill));
  int32_t length = static_cast<int16_t>(ReadU16(held, 0));
  if (length < 0) {
    record.fill = 0;  // no sender frames this; the stream is out of step
    return 0;
  }
  if (length + 2 >= record.capacity) {
    record.capacity += kReceiveGrowStep;
    record.buffer.resize(static_cast<size_t>(record.capacity), 0);
    return 0;
  }
  if (record.fill < length + kFrameOverhead) return 0;
  if (held[static_cast<size_t>(length) + 2] != 0) {
    record.fill = 0;  // wrong end byte: the stream is out of step
    return 0;
  }
  payload.assign(held.begin() + 2, held.begin() + 2 + length);
  Drop(record, length + kFrameOverhead);
  return length;
}

namespace {

auto SameConnection(ConnectionId id) {
  return [id](const ReceiveBuffer& record) { return record.connection == id; };
}

}  // namespace

Frames::Frames(Network& network) : network_(network) {
  network_.SetClosedHandler([this](ConnectionId id) { Forget(id); });
}

Frames::~Frames() {
  network_.SetClosedHandler(nullptr);
}

int32_t Frames::SendFrame(ConnectionId id, std::span<const uint8_t> payload) {
  if (payload.size() > static_cast<size_t>(kMaxPayload)) return -1;
  std::vector<uint8_t> frame(payload.size() + kFrameOverhead, 0);
  WriteU16(frame, 0, static_cast<uint16_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), frame.begin() + 2);
  network_.ConnectionSend(id, frame);
  return 0;
}

int32_t Frames::ReceiveFrame(ConnectionId id) {
  auto found = std::find_if(ReceiveBuffers.begin(), ReceiveBuffers.end(), SameConnection(id));
  if (found == ReceiveBuffers.end()) {
    // A record for a closed connection would never be dropped.
    if (!network_.IsOpen(id)) return 0;
    ReceiveBuffer fresh;
    fresh.connection = id;
    fresh.capacity = kReceiveInitialCapacity;
    fresh.buffer.assign(kReceiveInitialCapacity, 0);
    found = ReceiveBuffers.insert(ReceiveBuffers.end(), std::move(fresh));
  }
  ReadPending(network_, *found);
  return TakeFrame(*found, receivedFrame_);
}

std::span<const uint8_t> Frames::ReceivedFrame() const {
  return receivedFrame_;
}

void Frames::FreeFrameBuffers() {
  ReceiveBuffers = {};
  receivedFrame_ = {};
}

const ReceiveBuffer* Frames::FindBuffer(ConnectionId id) const {
  auto found = std::find_if(ReceiveBuffers.begin(), ReceiveBuffers.end(), SameConnection(id));
  return found == ReceiveBuffers.end() ? nullptr : &*found;
}

int32_t Frames::BufferCount() const {
  return static_cast<int32_t>(ReceiveBuffers.size());
}

void Frames::Forget(ConnectionId id) {
  std::erase_if(ReceiveBuffers, SameConnection(id));
}

}  // namespace kelpie
