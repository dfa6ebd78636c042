#include "protocol/messages_v2.h"

#include <algorithm>

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

// The entry count of a batch whose payload holds exactly that many entries.
std::optional<size_t> BatchCount(std::span<const uint8_t> payload, size_t entrySize) {
  if (payload.size() < kV2BatchFixed) return std::nullopt;
  const size_t count = ReadU16(payload, 10);
  if (payload.size() != kV2BatchFixed + count * entrySize) return std::nullopt;
  return count;
}

std::vector<uint8_t> NewBatch(int8_t command, uint32_t job, uint32_t batch, size_t count,
                              size_t entrySize) {
  if (count > UINT16_MAX) return {};
  std::vector<uint8_t> bytes = NewMessage(command, 0, kV2BatchFixed + count * entrySize);
  if (bytes.empty()) return bytes;
  WriteU32(bytes, 2, job);
  WriteU32(bytes, 6, batch);
  WriteU16(bytes, 10, static_cast<uint16_t>(count));
  return bytes;
}

// Offsets and lengths are unsigned on the wire; values past what a signed
// 64-bit number holds are read as -1, which no range has.
int64_t ReadOffset(std::span<const uint8_t> bytes, size_t offset) {
  const uint64_t value = ReadU64(bytes, offset);
  return value > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(value);
}

}  // namespace

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
  std::vector<uint8_t> bytes = NewBatch(CmdV2Check, job, batch, checks.size(), kV2CheckEntry);
  size_t at = kV2BatchFixed;
  for (const RangeCheck& check : bytes.empty() ? std::span<const RangeCheck>() : checks) {
    WriteU64(bytes, at, static_cast<uint64_t>(check.start));
    WriteU32(bytes, at + 8, static_cast<uint32_t>(check.len));
    WriteU64(bytes, at + 12, check.hash);
    at += kV2CheckEntry;
  }
  return bytes;
}

std::optional<V2CheckMessage> ReadV2Check(std::span<const uint8_t> payload) {
  std::optional<size_t> count = BatchCount(payload, kV2CheckEntry);
  if (!count) return std::nullopt;
  V2CheckMessage message{ReadU32(payload, 2), ReadU32(payload, 6), {}};
  message.checks.reserve(*count);
  for (size_t i = 0, at = kV2BatchFixed; i < *count; ++i, at += kV2CheckEntry) {
    message.checks.push_back(
        {ReadOffset(payload, at), ReadU32(payload, at + 8), ReadU64(payload, at + 12)});
  }
  return message;
}

std::vector<uint8_t> BuildV2CheckAnswer(uint32_t job, uint32_t batch,
                                        std::span<const int64_t> found) {
  std::vector<uint8_t> bytes = NewBatch(CmdV2CheckAnswer, job, batch, found.size(), kV2AnswerEntry);
  size_t at = kV2BatchFixed;
  for (int64_t offset : bytes.empty() ? std::span<const int64_t>() : found) {
    WriteU64(bytes, at, static_cast<uint64_t>(offset));
    at += kV2AnswerEntry;
  }
  return bytes;
}

std::optional<V2CheckAnswerMessage> ReadV2CheckAnswer(std::span<const uint8_t> payload) {
  std::optional<size_t> count = BatchCount(payload, kV2AnswerEntry);
  if (!count) return std::nullopt;
  V2CheckAnswerMessage message{ReadU32(payload, 2), ReadU32(payload, 6), {}};
  message.found.reserve(*count);
  for (size_t i = 0, at = kV2BatchFixed; i < *count; ++i, at += kV2AnswerEntry) {
    message.found.push_back(static_cast<int64_t>(ReadU64(payload, at)));
  }
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
