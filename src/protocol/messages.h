#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelpie {

// Byte 0 of every message.
enum Command : int8_t {
  CmdOK = 0,
  CmdERROR = 1,
  CmdHello = 2,
  CmdFileList_Add = 3,
  CmdFileList_Get = 5,
  CmdCompare_Start = 6,
  CmdCompare_Stop = 7,
  CmdCompare_Block = 8,
  CmdCompare_BlockAnswer = 9,
};

// Byte 1 of Compare_Block and Compare_BlockAnswer.
enum BlockSubCode : int8_t {
  SubGet = 0,
  SubCheck = 1,
};

inline constexpr uint8_t kNetVersion = 1;
inline constexpr char kServerGreeting[] = "KLPE Version 1.02 by Morwen";
inline constexpr char kClientGreeting[] = "Hello! :)";

// Fixed parts, in bytes.
inline constexpr size_t kHelloFixed = 3;
inline constexpr size_t kShortMessageSize = 6;  // OK, ERROR, FileList_Get, Compare_Stop
inline constexpr size_t kMd5Width = 32;         // the MD5 text field of FileList_Add
inline constexpr size_t kFileListAddFixed = 38;
inline constexpr size_t kCompareStartFixed = 2;
inline constexpr size_t kBlockCheckSize = 50;
inline constexpr size_t kBlockGetSize = 14;
inline constexpr size_t kAnswerCheckSize = 10;
inline constexpr size_t kAnswerGetFixed = 14;

// Every builder returns the payload of one frame, or an empty vector when the
// message would exceed the largest payload (32767 bytes). Every reader
// returns nullopt for a payload shorter than the message's fixed part and
// never reads past the payload. A text field ends at the end of the payload or
// at its first zero byte. Readers do not check bytes 0 and 1: the handlers
// dispatch on them before choosing a reader.
//
// The MD5 field of FileList_Add and Compare_Block (Check) is always 32 bytes:
// a builder pads shorter text with zero bytes and cuts longer text to its
// first 32 characters, so the fields behind it never move.

// Byte 0 and byte 1 as signed bytes; 0 for a payload too short to have them.
int8_t MessageCommand(std::span<const uint8_t> payload);
int8_t MessageSubCode(std::span<const uint8_t> payload);

struct HelloMessage {
  uint8_t netVersion = 0;
  std::string greeting;
};
std::vector<uint8_t> BuildHello(std::string_view greeting, uint8_t netVersion = kNetVersion);
std::optional<HelloMessage> ReadHello(std::span<const uint8_t> payload);

// OK: byte 1 names the acknowledged command (2 Hello, 5 FileList_Get,
// 6 Compare_Start); only OK (Compare_Start) carries a path, and ReadOk fills
// `path` only when byte 1 is 6.
struct OkMessage {
  int8_t acknowledged = 0;
  int32_t value = 0;
  std::string path;  // OK (Compare_Start) only
};
std::vector<uint8_t> BuildOk(int8_t acknowledged, int32_t value);
std::vector<uint8_t> BuildOkCompareStart(int32_t fileId, std::string_view path);
std::optional<OkMessage> ReadOk(std::span<const uint8_t> payload);

struct ErrorMessage {
  int8_t refused = 0;
  int32_t code = 0;
};
std::vector<uint8_t> BuildError(int8_t refused, int32_t code);
std::optional<ErrorMessage> ReadError(std::span<const uint8_t> payload);

// The MD5 field is always 32 bytes wide: shorter text leaves zero bytes behind
// it, longer text is cut, so the fixed layout after it never shifts.
void PutMd5(std::vector<uint8_t>& bytes, size_t offset, std::string_view md5);
// The text at `offset`, at most `width` bytes, up to the first zero byte and
// never past the end of the payload.
std::string TextAt(std::span<const uint8_t> payload, size_t offset, size_t width = SIZE_MAX);

struct FileListAddMessage {
  std::string md5;  // the 32 bytes at offset 2, up to a zero byte
  int64_t size = 0;
  std::string path;
};
std::vector<uint8_t> BuildFileListAdd(std::string_view md5, int32_t size, std::string_view path);
std::optional<FileListAddMessage> ReadFileListAdd(std::span<const uint8_t> payload);

std::vector<uint8_t> BuildFileListGet();
bool ReadFileListGet(std::span<const uint8_t> payload);  // false when too short

struct CompareStartMessage {
  std::string path;
};
std::vector<uint8_t> BuildCompareStart(std::string_view path);
std::optional<CompareStartMessage> ReadCompareStart(std::span<const uint8_t> payload);

struct CompareStopMessage {
  int32_t fileId = 0;
};
std::vector<uint8_t> BuildCompareStop(int32_t fileId);
std::optional<CompareStopMessage> ReadCompareStop(std::span<const uint8_t> payload);

struct BlockCheckMessage {
  int32_t fileId = 0;
  int32_t start = 0;
  int32_t len = 0;
  int32_t startLong = 0;
  std::string md5;  // the 32 bytes at offset 18, up to a zero byte
};
std::vector<uint8_t> BuildBlockCheck(int32_t fileId, int32_t start, int32_t len, int32_t startLong,
                                     std::string_view md5);
std::optional<BlockCheckMessage> ReadBlockCheck(std::span<const uint8_t> payload);

struct BlockGetMessage {
  int32_t fileId = 0;
  int32_t start = 0;
  int32_t len = 0;
};
std::vector<uint8_t> BuildBlockGet(int32_t fileId, int32_t start, int32_t len);
std::optional<BlockGetMessage> ReadBlockGet(std::span<const uint8_t> payload);

struct AnswerCheckMessage {
  int32_t fileId = 0;
  int32_t position = 0;
};
std::vector<uint8_t> BuildAnswerCheck(int32_t fileId, int32_t position);
std::optional<AnswerCheckMessage> ReadAnswerCheck(std::span<const uint8_t> payload);

// Compare_BlockAnswer (Get): echoes the request's FileID, start and len and
// carries the data; a reader takes the data length from the payload length.
struct AnswerGetMessage {
  int32_t fileId = 0;
  int32_t start = 0;
  int32_t len = 0;
  std::span<const uint8_t> data;  // points into the payload
};
std::vector<uint8_t> BuildAnswerGet(int32_t fileId, int32_t start, int32_t len,
                                    std::span<const uint8_t> data);
std::optional<AnswerGetMessage> ReadAnswerGet(std::span<const uint8_t> payload);

}  // namespace kelpie
