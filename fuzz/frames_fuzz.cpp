// Frame reassembly fed a byte stream in pieces, as reads from a socket would
// bring it.
//
// Input: a mode byte, a count k and k piece-size bytes, then the stream. In
// mode 0 the rest of the input is the stream, any bytes at all. In mode 1 it
// describes payloads (a length code, then bytes repeated up to that length),
// which are framed as a sender frames them, and reassembly must give back
// exactly those payloads whatever the pieces. In both modes every delivered
// frame must be the stream's bytes at the place reassembly took it from.

#include <cstring>
#include <span>
#include <vector>

#include "support/input_reader.h"
#include "support/require.h"
#include "transport/frames.h"

namespace kelpie::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

// Small pieces (1 to 128 bytes) cut a frame anywhere; large ones (256 to
// 32768) bring several frames at once.
size_t PieceSize(uint8_t code) {
  return code < 128 ? code + 1u : (code - 127u) * 256u;
}

Bytes Framed(const std::vector<Bytes>& payloads) {
  Bytes stream;
  for (const Bytes& payload : payloads) {
    stream.push_back(static_cast<uint8_t>(payload.size()));
    stream.push_back(static_cast<uint8_t>(payload.size() >> 8));
    stream.insert(stream.end(), payload.begin(), payload.end());
    stream.push_back(0);
  }
  return stream;
}

std::vector<Bytes> Payloads(InputReader& input) {
  std::vector<Bytes> payloads;
  while (!input.empty() && payloads.size() < 64) {
    // Mostly small payloads, so that an input carries many; any size at all
    // after a code of 240 or more.
    const uint8_t code = input.U8();
    const size_t size = code < 240 ? code + 1u : 1u + input.U16() % kMaxPayload;
    std::span<const uint8_t> pattern = input.Bytes(size);
    Bytes payload(size, 0x5A);
    for (size_t i = 0; i < size && !pattern.empty(); ++i)
      payload[i] = pattern[i % pattern.size()];
    payloads.push_back(std::move(payload));
  }
  return payloads;
}

// One connection's reassembly, fed from memory as Frames feeds it from its
// socket: each call reads once, at most the room left, when bytes are pending.
class Reassembly {
 public:
  explicit Reassembly(std::span<const uint8_t> stream) : stream_(stream) {
    record_.capacity = kReceiveInitialCapacity;
    record_.buffer.assign(kReceiveInitialCapacity, 0);
  }

  void Arrive(size_t count) { arrived_ = std::min(stream_.size(), arrived_ + count); }
  bool Pending() const { return read_ < arrived_; }
  bool AllRead() const { return read_ == stream_.size(); }

  // The payload of the frame delivered, or an empty one.
  std::span<const uint8_t> Receive() {
    if (Pending()) {
      const size_t room = static_cast<size_t>(record_.capacity - record_.fill);
      const size_t count = std::min(room, arrived_ - read_);
      if (count > 0)
        std::memcpy(record_.buffer.data() + record_.fill, stream_.data() + read_, count);
      record_.fill += static_cast<int32_t>(count);
      read_ += count;
    }
    const int32_t length = TakeFrame(record_, payload_);
    CheckRecord();
    if (length == 0) return {};
    Require(length > 0 && length <= kMaxPayload, "a frame carries 1 to 32767 bytes");
    Require(payload_.size() == static_cast<size_t>(length), "the payload has the frame's length");
    // The bytes still held follow the frame in the stream.
    const size_t end = read_ - static_cast<size_t>(record_.fill);
    const size_t start = end - static_cast<size_t>(length) - kFrameOverhead;
    Require(end >= static_cast<size_t>(length) + kFrameOverhead && start >= delivered_,
            "frames come out in stream order");
    const Bytes frame = Framed({payload_});
    Require(std::equal(frame.begin(), frame.end(), stream_.begin() + static_cast<ptrdiff_t>(start)),
            "a frame is delivered as it was in the stream");
    delivered_ = end;
    return payload_;
  }

  int32_t held() const { return record_.fill; }

 private:
  void CheckRecord() const {
    Require(record_.capacity == static_cast<int32_t>(record_.buffer.size()),
            "the block is as large as its capacity");
    Require(record_.fill >= 0 && record_.fill <= record_.capacity, "0 <= fill <= capacity");
    Require((record_.capacity - kReceiveInitialCapacity) % kReceiveGrowStep == 0 &&
                record_.capacity <= kMaxPayload + kFrameOverhead + kReceiveGrowStep,
            "the block grows in steps, no further than the largest frame needs");
    Require(read_ - static_cast<size_t>(record_.fill) >= delivered_,
            "the bytes held lie behind the last frame delivered");
  }

  std::span<const uint8_t> stream_;
  ReceiveBuffer record_;
  Bytes payload_;
  size_t arrived_ = 0;    // bytes of the stream the socket has
  size_t read_ = 0;       // bytes taken into the block
  size_t delivered_ = 0;  // stream offset just past the last frame delivered
};

void Run(std::span<const uint8_t> data) {
  InputReader input(data);
  const bool framed = input.U8() % 2 == 1;
  std::span<const uint8_t> pieces = input.Bytes(input.U8());
  const std::vector<Bytes> sent = framed ? Payloads(input) : std::vector<Bytes>{};
  const Bytes framedStream = Framed(sent);
  std::span<const uint8_t> stream = framed ? std::span<const uint8_t>(framedStream) : input.Rest();

  Reassembly reassembly(stream);
  std::vector<Bytes> received;
  size_t piece = 0;
  // Each read takes a byte at least, or takes a frame out, or grows the
  // block, so this many calls always suffice.
  size_t calls = 0;
  const size_t mostCalls = 4 * stream.size() + 64;
  while (!reassembly.AllRead()) {
    if (!reassembly.Pending()) {
      reassembly.Arrive(pieces.empty() ? stream.size()
                                       : PieceSize(pieces[piece++ % pieces.size()]));
    }
    // A data event: frames are taken until none is whole.
    for (std::span<const uint8_t> payload = reassembly.Receive(); !payload.empty();
         payload = reassembly.Receive()) {
      received.emplace_back(payload.begin(), payload.end());
      Require(++calls < mostCalls, "reassembly makes progress");
    }
    Require(++calls < mostCalls, "reassembly makes progress");
  }
  if (framed) {
    Require(received == sent, "well-formed frames come out whole, in order, whatever the pieces");
    Require(reassembly.held() == 0, "nothing is held after the last whole frame");
  }
}

}  // namespace
}  // namespace kelpie::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kelpie::fuzz::Run({data, size});
  return 0;
}
