#include "protocol/messages.h"

#include <algorithm>
#include <cstdint>

#include "transport/frames.h"
#include "transport/little_endian.h"

namespace kelpie {
namespace {

// A zeroed payload of `size` bytes carrying its command and sub-code, or an
// empty vector when it would not fit one frame.
std::vector<uint8_t> NewMessage(int8_t command, int8_t subCode, size_t size) {
  if (size > static_cast<size_t>(kMaxPayload)) return {};
  std::vector<uint8_t> bytes(size, 0);
  bytes[0] = static_cast<uint8_t>(command);
  bytes[1] = static_cast<uint8_t>(subCode);
  return bytes;
}

void PutText(std::vector<uint8_t>& bytes, size_t offset, std::string_view text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

int8_t SignedByte(std::span<const uint8_t> payload, size_t offset) {
  return static_cast<int8_t>(payload[offset]);
}

// The four longs of a Compare_Block / Compare_BlockAnswer header from offset 2.
std::vector<uint8_t> BlockMessage(int8_t command, int8_t subCode, size_t size, int32_t fileId,
                                  int32_t second) {
  std::vector<uint8_t> bytes = NewMessage(command, subCode, size);
  if (bytes.empty()) return bytes;
  WriteI32(bytes, 2, fileId);
  WriteI32(bytes, 6, second);
  return bytes;
}

}  // namespace

// The MD5 field is always 32 bytes wide: shorter text leaves zero bytes behind
// it, longer text is cut, so the fixed layout after it never shifts.
void PutMd5(std::vector<uint8_t>& bytes, size_t offset, std::string_view md5) {
  PutText(bytes, offset, md5.substr(0, kMd5Width));
}

// The text at `offset`, at most `width` bytes, up to the first zero byte and
// never past the end of the payload.
std::string TextAt(std::span<const uint8_t> payload, size_t offset, size_t width) {
  if (offset >= payload.size()) return {};
  std::span<const uint8_t> field =
      payload.subspan(offset, std::min(width, payload.size() - offset));
  auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), end);
}

int8_t MessageCommand(std::span<const uint8_t> payload) {
  return payload.empty() ? 0 : SignedByte(payload, 0);
}

int8_t MessageSubCode(std::span<const uint8_t> payload) {
  return payload.size() < 2 ? 0 : SignedByte(payload, 1);
}

// Hello: 2, 0, NetVersion, greeting (no zero byte).
std::vector<uint8_t> BuildHello(std::string_view greeting, uint8_t netVersion) {
  std::vector<uint8_t> bytes = NewMessage(CmdHello, 0, kHelloFixed + greeting.size());
  if (bytes.empty()) return bytes;
  bytes[2] = netVersion;
  PutText(bytes, kHelloFixed, greeting);
  return bytes;
}

std::optional<HelloMessage> ReadHello(std::span<const uint8_t> payload) {
  if (payload.size() < kHelloFixed) return std::nullopt;
  return HelloMessage{payload[2], TextAt(payload, kHelloFixed)};
}

// OK: 0, acknowledged command, long value[, path for Compare_Start].
std::vector<uint8_t> BuildOk(int8_t acknowledged, int32_t value) {
  std::vector<uint8_t> bytes = NewMessage(CmdOK, acknowledged, kShortMessageSize);
  WriteI32(bytes, 2, value);
  return bytes;
}

std::vector<uint8_t> BuildOkCompareStart(int32_t fileId, std::string_view path) {
  std::vector<uint8_t> bytes = NewMessage(CmdOK, CmdCompare_Start, kShortMessageSize + path.size());
  if (bytes.empty()) return bytes;
  WriteI32(bytes, 2, fileId);
  PutText(bytes, kShortMessageSize, path);
  return bytes;
}

std::optional<OkMessage> ReadOk(std::span<const uint8_t> payload) {
  if (payload.size() < kShortMessageSize) return std::nullopt;
  OkMessage ok;
  ok.acknowledged = SignedByte(payload, 1);
  ok.value = ReadI32(payload, 2);
  if (ok.acknowledged == CmdCompare_Start) ok.path = TextAt(payload, kShortMessageSize);
  return ok;
}

// ERROR: 1, refused command, long code.
std::vector<uint8_t> BuildError(int8_t refused, int32_t code) {
  std::vector<uint8_t> bytes = NewMessage(CmdERROR, refused, kShortMessageSize);
  WriteI32(bytes, 2, code);
  return bytes;
}

std::optional<ErrorMessage> ReadError(std::span<const uint8_t> payload) {
  if (payload.size() < kShortMessageSize) return std::nullopt;
  return ErrorMessage{SignedByte(payload, 1), ReadI32(payload, 2)};
}

// FileList_Add: 3, 1, MD5 (32), long size, path, one zero byte.
std::vector<uint8_t> BuildFileListAdd(std::string_view md5, int32_t size, std::string_view path) {
  std::vector<uint8_t> bytes = NewMessage(CmdFileList_Add, 1, kFileListAddFixed + path.size() + 1);
  if (bytes.empty()) return bytes;
  PutMd5(bytes, 2, md5);
  WriteI32(bytes, 34, size);
  PutText(bytes, kFileListAddFixed, path);
  return bytes;
}

std::optional<FileListAddMessage> ReadFileListAdd(std::span<const uint8_t> payload) {
  if (payload.size() < kFileListAddFixed) return std::nullopt;
  return FileListAddMessage{TextAt(payload, 2, kMd5Width), ReadI32(payload, 34),
                            TextAt(payload, kFileListAddFixed)};
}

// FileList_Get: 5, 0, a long 0.
std::vector<uint8_t> BuildFileListGet() {
  return NewMessage(CmdFileList_Get, 0, kShortMessageSize);
}

bool ReadFileListGet(std::span<const uint8_t> payload) {
  return payload.size() >= kShortMessageSize;
}

// Compare_Start: 6, 0, path (no zero byte).
std::vector<uint8_t> BuildCompareStart(std::string_view path) {
  std::vector<uint8_t> bytes = NewMessage(CmdCompare_Start, 0, kCompareStartFixed + path.size());
  if (bytes.empty()) return bytes;
  PutText(bytes, kCompareStartFixed, path);
  return bytes;
}

std::optional<CompareStartMessage> ReadCompareStart(std::span<const uint8_t> payload) {
  if (payload.size() < kCompareStartFixed) return std::nullopt;
  return CompareStartMessage{TextAt(payload, kCompareStartFixed)};
}

// Compare_Stop: 7, 0, long FileID.
std::vector<uint8_t> BuildCompareStop(int32_t fileId) {
  std::vector<uint8_t> bytes = NewMessage(CmdCompare_Stop, 0, kShortMessageSize);
  WriteI32(bytes, 2, fileId);
  return bytes;
}

std::optional<CompareStopMessage> ReadCompareStop(std::span<const uint8_t> payload) {
  if (payload.size() < kShortMessageSize) return std::nullopt;
  return CompareStopMessage{ReadI32(payload, 2)};
}

// Compare_Block Check: 8, 1, FileID, start, len, StartLong, MD5 (32, no zero).
std::vector<uint8_t> BuildBlockCheck(int32_t fileId, int32_t start, int32_t len, int32_t startLong,
                                     std::string_view md5) {
  std::vector<uint8_t> bytes =
      BlockMessage(CmdCompare_Block, SubCheck, kBlockCheckSize, fileId, start);
  WriteI32(bytes, 10, len);
  WriteI32(bytes, 14, startLong);
  PutMd5(bytes, 18, md5);
  return bytes;
}

std::optional<BlockCheckMessage> ReadBlockCheck(std::span<const uint8_t> payload) {
  if (payload.size() < kBlockCheckSize) return std::nullopt;
  return BlockCheckMessage{ReadI32(payload, 2), ReadI32(payload, 6), ReadI32(payload, 10),
                           ReadI32(payload, 14), TextAt(payload, 18, kMd5Width)};
}

// Compare_Block Get: 8, 0, FileID, start, len.
std::vector<uint8_t> BuildBlockGet(int32_t fileId, int32_t start, int32_t len) {
  std::vector<uint8_t> bytes = BlockMessage(CmdCompare_Block, SubGet, kBlockGetSize, fileId, start);
  WriteI32(bytes, 10, len);
  return bytes;
}

std::optional<BlockGetMessage> ReadBlockGet(std::span<const uint8_t> payload) {
  if (payload.size() < kBlockGetSize) return std::nullopt;
  return BlockGetMessage{ReadI32(payload, 2), ReadI32(payload, 6), ReadI32(payload, 10)};
}

// Compare_BlockAnswer Check: 9, 1, FileID, Position.
std::vector<uint8_t> BuildAnswerCheck(int32_t fileId, int32_t position) {
  return BlockMessage(CmdCompare_BlockAnswer, SubCheck, kAnswerCheckSize, fileId, position);
}

std::optional<AnswerCheckMessage> ReadAnswerCheck(std::span<const uint8_t> payload) {
  if (payload.size() < kAnswerCheckSize) return std::nullopt;
  return AnswerCheckMessage{ReadI32(payload, 2), ReadI32(payload, 6)};
}

// Compare_BlockAnswer Get: 9, 0, FileID, start, len, the data.
std::vector<uint8_t> BuildAnswerGet(int32_t fileId, int32_t start, int32_t len,
                                    std::span<const uint8_t> data) {
  std::vector<uint8_t> bytes =
      BlockMessage(CmdCompare_BlockAnswer, SubGet, kAnswerGetFixed + data.size(), fileId, start);
  if (bytes.empty()) return bytes;
  WriteI32(bytes, 10, len);
  std::copy(data.begin(), data.end(), bytes.begin() + kAnswerGetFixed);
  return bytes;
}

std::optional<AnswerGetMessage> ReadAnswerGet(std::span<const uint8_t> payload) {
  if (payload.size() < kAnswerGetFixed) return std::nullopt;
  return AnswerGetMessage{ReadI32(payload, 2), ReadI32(payload, 6), ReadI32(payload, 10),
                          payload.subspan(kAnswerGetFixed)};
}

}  // namespace kelpie
