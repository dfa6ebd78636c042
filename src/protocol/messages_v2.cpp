#include "protocol/messages_v2.h"

#include <algorithm>

#include "common/zigzag.h"
#include "transport/frames.h"
#include "transport/little_endian.h"

namespace kelpie {
namespace {

// A zeroed payload of `size` bytes with its command and byte 1, or an empty
// vector when it would not fit one frame.
std::vector<uint8_t> NewMessage(int8_t command, uint8_t second, size_t size) {
  if (size > static_cast<size_t>(kMaxPayload)) return {};
  std::vector<uint8_t> bytes(size, 0);
  bytes[0] = static_cast<uint8_t>(command);
  bytes[1] = second;
  return bytes;
}

std::vector<uint8_t> NewBatch(int8_t command, uint32_t job, uint32_t batch, size_t count) {
  std::vector<uint8_t> bytes = NewMessage(command, 0, kV2BatchFixed);
  WriteU32(bytes, 2, job);
  WriteU32(bytes, 6, batch);
  WriteU16(bytes, 10, static_cast<uint16_t>(count));
  return bytes;
}

// A finished batch, or nothing when it grew past one frame.
std::vector<uint8_t> Finished(std::vector<uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(kMaxPayload)) return {};
  return bytes;
}

// Unsigned LEB128: seven bits a byte, low bits first, the top bit set on
// every byte but the last.
void PutVarint(std::vector<uint8_t>& bytes, uint64_t value) {
  while (value >= 0x80) {
    bytes.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  bytes.push_back(static_cast<uint8_t>(value));
}

// The varint at `at`, moving `at` past it; nullopt when it runs past the
// payload or past ten bytes.
std::optional<uint64_t> TakeVarint(std::span<const uint8_t> payload, size_t& at) {
  uint64_t value = 0;
  for (int shift = 0; shift < 70 && at < payload.size(); shift += 7) {
    const uint8_t byte = payload[at++];
    value |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return value;
  }
  return std::nullopt;
}

// Offsets and lengths are unsigned on the wire; values past what a signed
// 64-bit number holds are read as -1, which no range has.
int64_t ReadOffset(std::span<const uint8_t> bytes, size_t offset) {
  const uint64_t value = ReadU64(bytes, offset);
  return value > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(value);
}

}  // namespace

std::vector<uint8_t> BuildV2KeepAlive() {
  return NewMessage(CmdV2KeepAlive, 0, kV2KeepAliveSize);
}

bool IsV2KeepAlive(std::span<const uint8_t> payload) {
  return payload.size() == kV2KeepAliveSize;
}

// V2FileAdd: 22, 0, MD5 (32), 64-bit size, path, one zero byte.
std::vector<uint8_t> BuildV2FileAdd(std::string_view md5, int64_t size, std::string_view path) {
  std::vector<uint8_t> bytes = NewMessage(CmdV2FileAdd, 0, kV2FileAddFixed + path.size() + 1);
  if (bytes.empty()) return bytes;
  PutMd5(bytes, 2, md5);
  WriteU64(bytes, 34, static_cast<uint64_t>(size));
  std::copy(path.begin(), path.end(), bytes.begin() + kV2FileAddFixed);
  return bytes;
}

std::optional<FileListAddMessage> ReadV2FileAdd(std::span<const uint8_t> payload) {
  if (payload.size() < kV2FileAddFixed) return std::nullopt;
  const auto size = static_cast<int64_t>(ReadU64(payload, 34));
  if (size < 0) return std::nullopt;
  return FileListAddMessage{TextAt(payload, 2, kMd5Width), size, TextAt(payload, kV2FileAddFixed)};
}

std::vector<uint8_t> BuildV2Start(uint32_t job, std::string_view path) {
  std::vector<uint8_t> bytes = NewMessage(CmdV2Start, 0, kV2StartFixed + path.size());
  if (bytes.empty()) return bytes;
  WriteU32(bytes, 2, job);
  std::copy(path.begin(), path.end(), bytes.begin() + kV2StartFixed);
  return bytes;
}

std::optional<V2StartMessage> ReadV2Start(std::span<const uint8_t> payload) {
  if (payload.size() < kV2StartFixed) return std::nullopt;
  auto text = payload.subspan(kV2StartFixed);
  return V2StartMessage{ReadU32(payload, 2),
                        std::string(text.begin(), std::find(text.begin(), text.end(), 0))};
}

std::vector<uint8_t> BuildV2Accept(const V2AcceptMessage& message) {
  std::vector<uint8_t> bytes = NewMessage(CmdV2Accept, message.result, kV2AcceptSize);
  WriteU32(bytes, 2, message.job);
  WriteU64(bytes, 6, static_cast<uint64_t>(message.size));
  std::copy(message.hash.begin(), message.hash.end(), bytes.begin() + 14);
  return bytes;
}

std::optional<V2AcceptMessage> ReadV2Accept(std::span<const uint8_t> payload) {
  if (payload.size() != kV2AcceptSize) return std::nullopt;
  V2AcceptMessage message{payload[1], ReadU32(payload, 2), ReadOffset(payload, 6), {}};
  std::copy_n(payload.begin() + 14, message.hash.size(), message.hash.begin());
  return message;
}

std::vector<uint8_t> BuildV2Check(uint32_t job, uint32_t batch,
                                  std::span<const RangeCheck> checks) {
  if (checks.size() > UINT16_MAX) return {};
  std::vector<uint8_t> bytes = NewBatch(CmdV2Check, job, batch, checks.size());
  // Wrapping arithmetic, as the reader's: any start and length round-trip.
  uint64_t end = 0;  // where the entry before ended
  for (const RangeCheck& check : checks) {
    PutVarint(bytes, ZigZag(static_cast<int64_t>(static_cast<uint64_t>(check.start) - end)));
    PutVarint(bytes, static_cast<uint64_t>(check.len));
    bytes.resize(bytes.size() + 8);
    WriteU64(bytes, bytes.size() - 8, check.hash);
    end = static_cast<uint64_t>(check.start) + static_cast<uint64_t>(check.len);
  }
  return Finished(std::move(bytes));
}

std::optional<V2CheckMessage> ReadV2Check(std::span<const uint8_t> payload) {
  if (payload.size() < kV2BatchFixed) return std::nullopt;
  const size_t count = ReadU16(payload, 10);
  V2CheckMessage message{ReadU32(payload, 2), ReadU32(payload, 6), {}};
  // The count is the peer's word; room for more entries than the payload
  // can hold (ten bytes each at least) would be asked of memory for nothing.
  message.checks.reserve(std::min(count, (payload.size() - kV2BatchFixed) / 10));
  size_t at = kV2BatchFixed;
  int64_t end = 0;
  for (size_t i = 0; i < count; ++i) {
    std::optional<uint64_t> gap = TakeVarint(payload, at);
    std::optional<uint64_t> len = gap ? TakeVarint(payload, at) : std::nullopt;
    if (!len || *len > static_cast<uint64_t>(INT64_MAX) || payload.size() - at < 8) {
      return std::nullopt;
    }
    // Wrapping arithmetic: a start no file has is answered as not found.
    const auto start =
        static_cast<int64_t>(static_cast<uint64_t>(end) + static_cast<uint64_t>(UnZigZag(*gap)));
    message.checks.push_back({start, static_cast<int64_t>(*len), ReadU64(payload, at)});
    at += 8;
    end = static_cast<int64_t>(static_cast<uint64_t>(start) + *len);
  }
  if (at != payload.size()) return std::nullopt;
  return message;
}

std::vector<uint8_t> BuildV2CheckAnswer(uint32_t job, uint32_t batch,
                                        std::span<const int64_t> found) {
  if (found.size() > UINT16_MAX) return {};
  std::vector<uint8_t> bytes = NewBatch(CmdV2CheckAnswer, job, batch, found.size());
  for (int64_t code : found)
    PutVarint(bytes, static_cast<uint64_t>(code));
  return Finished(std::move(bytes));
}

std::optional<V2CheckAnswerMessage> ReadV2CheckAnswer(std::span<const uint8_t> payload) {
  if (payload.size() < kV2BatchFixed) return std::nullopt;
  const size_t count = ReadU16(payload, 10);
  V2CheckAnswerMessage message{ReadU32(payload, 2), ReadU32(payload, 6), {}};
  message.found.reserve(std::min(count, payload.size() - kV2BatchFixed));  // a byte each at least
  size_t at = kV2BatchFixed;
  for (size_t i = 0; i < count; ++i) {
    std::optional<uint64_t> code = TakeVarint(payload, at);
    if (!code) return std::nullopt;
    message.found.push_back(static_cast<int64_t>(*code));
  }
  if (at != payload.size()) return std::nullopt;
  return message;
}

std::vector<uint8_t> BuildV2Get(const V2GetMessage& message) {
  std::vector<uint8_t> bytes = NewMessage(CmdV2Get, 0, kV2GetSize);
  WriteU32(bytes, 2, message.job);
  WriteU32(bytes, 6, message.request);
  WriteU64(bytes, 10, static_cast<uint64_t>(message.offset));
  WriteU32(bytes, 18, static_cast<uint32_t>(message.len));
  return bytes;
}

std::optional<V2GetMessage> ReadV2Get(std::span<const uint8_t> payload) {
  if (payload.size() != kV2GetSize) return std::nullopt;
  return V2GetMessage{ReadU32(payload, 2), ReadU32(payload, 6), ReadOffset(payload, 10),
                      ReadU32(payload, 18)};
}

std::vector<uint8_t> BuildV2Data(uint32_t job, uint32_t request, int64_t offset, int64_t len,
                                 std::span<const uint8_t> bytes) {
  const bool zeros = bytes.empty() && len > 0;
  std::vector<uint8_t> message =
      NewMessage(CmdV2Data, zeros ? kV2DataZeros : 0, kV2DataFixed + bytes.size());
  if (message.empty()) return message;
  WriteU32(message, 2, job);
  WriteU32(message, 6, request);
  WriteU64(message, 10, static_cast<uint64_t>(offset));
  WriteU32(message, 18, static_cast<uint32_t>(zeros ? len : std::ssize(bytes)));
  std::copy(bytes.begin(), bytes.end(), message.begin() + kV2DataFixed);
  return message;
}

std::optional<V2DataMessage> ReadV2Data(std::span<const uint8_t> payload) {
  if (payload.size() < kV2DataFixed) return std::nullopt;
  V2DataMessage message{ReadU32(payload, 2),
                        ReadU32(payload, 6),
                        ReadOffset(payload, 10),
                        ReadU32(payload, 18),
                        (payload[1] & kV2DataZeros) != 0,
                        {}};
  if (!message.zeros) {
    message.bytes = payload.subspan(kV2DataFixed);
    if (std::ssize(message.bytes) != message.len) return std::nullopt;
  } else if (payload.size() != kV2DataFixed) {
    return std::nullopt;
  }
  return message;
}

size_t MaxV2DataBytes() {
  return static_cast<size_t>(kMaxPayload) - kV2DataFixed;
}

}  // namespace kelpie
