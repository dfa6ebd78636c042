#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compare/chunk_index.h"
#include "compare/fingerprint.h"
#include "protocol/messages.h"

namespace kelpie {

// Byte 0 of the messages only version-2 connections carry (docs/protocol-v2.md).
enum CommandV2 : int8_t {
  CmdV2Start = 16,
  CmdV2Accept = 17,
  CmdV2Check = 18,
  CmdV2CheckAnswer = 19,
  CmdV2Get = 20,
  CmdV2Data = 21,
  CmdV2FileAdd = 22,
  CmdV2KeepAlive = 23,
};

// Byte 1 of V2Accept.
enum AcceptResult : uint8_t {
  kAccepted = 0,
  kAcceptCannotOpen = 1,
  kAcceptNotListed = 2,
};

inline constexpr size_t kV2StartFixed = 6;
inline constexpr size_t kV2AcceptSize = 46;
inline constexpr size_t kV2BatchFixed = 12;  // V2Check and V2CheckAnswer
inline constexpr size_t kV2GetSize = 22;
inline constexpr size_t kV2DataFixed = 22;
inline constexpr size_t kV2FileAddFixed = 42;
inline constexpr size_t kV2KeepAliveSize = 2;
inline constexpr uint8_t kV2DataZeros = 1;  // V2Data flag: the piece is zeros, no bytes follow

// Builders return an empty vector when the message would not fit one frame;
// readers return nullopt for a payload of the wrong length. Neither reads
// past the payload.

// Says only that the sender is still there.
std::vector<uint8_t> BuildV2KeepAlive();
bool IsV2KeepAlive(std::span<const uint8_t> payload);

// A listed file whose size the first version's FileList_Add cannot carry.
std::vector<uint8_t> BuildV2FileAdd(std::string_view md5, int64_t size, std::string_view path);
std::optional<FileListAddMessage> ReadV2FileAdd(std::span<const uint8_t> payload);

struct V2StartMessage {
  uint32_t job = 0;
  std::string path;
};
std::vector<uint8_t> BuildV2Start(uint32_t job, std::string_view path);
std::optional<V2StartMessage> ReadV2Start(std::span<const uint8_t> payload);

struct V2AcceptMessage {
  uint8_t result = kAccepted;
  uint32_t job = 0;
  int64_t size = 0;
  WholeFileHash hash{};
};
std::vector<uint8_t> BuildV2Accept(const V2AcceptMessage& message);
std::optional<V2AcceptMessage> ReadV2Accept(std::span<const uint8_t> payload);

struct V2CheckMessage {
  uint32_t job = 0;
  uint32_t batch = 0;
  std::vector<RangeCheck> checks;
};
std::vector<uint8_t> BuildV2Check(uint32_t job, uint32_t batch, std::span<const RangeCheck> checks);
std::optional<V2CheckMessage> ReadV2Check(std::span<const uint8_t> payload);

// Each answer is a code (FoundCode); codes past what a signed 64-bit number
// holds read as negative, which no code is.
struct V2CheckAnswerMessage {
  uint32_t job = 0;
  uint32_t batch = 0;
  std::vector<int64_t> found;  // codes, in the order of the checks
};

std::vector<uint8_t> BuildV2CheckAnswer(uint32_t job, uint32_t batch,
                                        std::span<const int64_t> found);
std::optional<V2CheckAnswerMessage> ReadV2CheckAnswer(std::span<const uint8_t> payload);

struct V2GetMessage {
  uint32_t job = 0;
  uint32_t request = 0;
  int64_t offset = 0;
  int64_t len = 0;
};
std::vector<uint8_t> BuildV2Get(const V2GetMessage& message);
std::optional<V2GetMessage> ReadV2Get(std::span<const uint8_t> payload);

struct V2DataMessage {
  uint32_t job = 0;
  uint32_t request = 0;
  int64_t offset = 0;
  int64_t len = 0;
  bool zeros = false;
  std::span<const uint8_t> bytes;  // points into the payload; empty for zeros
};
// A piece of data, or of zeros when bytes is empty and len is not 0.
std::vector<uint8_t> BuildV2Data(uint32_t job, uint32_t request, int64_t offset, int64_t len,
                                 std::span<const uint8_t> bytes);
std::optional<V2DataMessage> ReadV2Data(std::span<const uint8_t> payload);
// Most data bytes one V2Data carries.
size_t MaxV2DataBytes();

}  // namespace kelpie
