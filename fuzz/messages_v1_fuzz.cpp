// Every reader of the first version's messages, fed any payload.
//
// A reader refuses exactly the payloads shorter than its message's fixed
// part, and never reads past the payload (the sanitizers watch). What it
// reads, built again with the matching builder, reads back the same: no field
// is lost or moved between the two directions.

#include <algorithm>
#include <span>
#include <vector>

#include "protocol/messages.h"
#include "support/require.h"
#include "transport/frames.h"

namespace kelpie::fuzz {
namespace {

using Payload = std::span<const uint8_t>;

// A text field holds no zero byte and no more than its width.
void CheckText(const std::string& text, size_t width) {
  Require(text.size() <= width && text.find('\0') == std::string::npos,
          "a text field stops at a zero byte and at its width");
}

// Reads a payload the reader accepted, built again; a payload that would not
// fit a frame any more is only possible for a payload at the limit.
template <class Read>
auto Again(const std::vector<uint8_t>& built, Payload original, Read read) {
  Require(!built.empty() || original.size() >= static_cast<size_t>(kMaxPayload),
          "what was read can be built again");
  return built.empty() ? decltype(read(Payload(built))){} : read(Payload(built));
}

void CheckHello(Payload p) {
  auto hello = ReadHello(p);
  Require(hello.has_value() == (p.size() >= kHelloFixed), "Hello: refused only when short");
  if (!hello) return;
  CheckText(hello->greeting, p.size());
  auto again = Again(BuildHello(hello->greeting, hello->netVersion), p, ReadHello);
  Require(!again || (again->netVersion == hello->netVersion && again->greeting == hello->greeting),
          "Hello reads back");
}

void CheckOk(Payload p) {
  auto ok = ReadOk(p);
  Require(ok.has_value() == (p.size() >= kShortMessageSize), "OK: refused only when short");
  if (!ok) return;
  Require(ok->acknowledged == MessageSubCode(p), "OK names byte 1");
  Require(ok->acknowledged == CmdCompare_Start || ok->path.empty(),
          "only OK (Compare_Start) has a path");
  const std::vector<uint8_t> built = ok->acknowledged == CmdCompare_Start
                                         ? BuildOkCompareStart(ok->value, ok->path)
                                         : BuildOk(ok->acknowledged, ok->value);
  auto again = Again(built, p, ReadOk);
  Require(!again || (again->acknowledged == ok->acknowledged && again->value == ok->value &&
                     again->path == ok->path),
          "OK reads back");
}

void CheckError(Payload p) {
  auto error = ReadError(p);
  Require(error.has_value() == (p.size() >= kShortMessageSize), "ERROR: refused only when short");
  if (!error) return;
  auto again = ReadError(BuildError(error->refused, error->code));
  Require(again && again->refused == error->refused && again->code == error->code,
          "ERROR reads back");
}

void CheckFileListAdd(Payload p) {
  auto add = ReadFileListAdd(p);
  Require(add.has_value() == (p.size() >= kFileListAddFixed),
          "FileList_Add: refused only when short");
  if (!add) return;
  CheckText(add->md5, kMd5Width);
  Require(add->size >= INT32_MIN && add->size <= INT32_MAX, "FileList_Add: a 32-bit size");
  auto again = Again(BuildFileListAdd(add->md5, static_cast<int32_t>(add->size), add->path), p,
                     ReadFileListAdd);
  Require(
      !again || (again->md5 == add->md5 && again->size == add->size && again->path == add->path),
      "FileList_Add reads back");
}

void CheckShortOnes(Payload p) {
  const bool whole = p.size() >= kShortMessageSize;
  Require(ReadFileListGet(p) == whole, "FileList_Get: refused only when short");
  Require(ReadFileListGet(BuildFileListGet()), "FileList_Get reads back");
  auto stop = ReadCompareStop(p);
  Require(stop.has_value() == whole, "Compare_Stop: refused only when short");
  if (stop) {
    auto again = ReadCompareStop(BuildCompareStop(stop->fileId));
    Require(again && again->fileId == stop->fileId, "Compare_Stop reads back");
  }
  auto start = ReadCompareStart(p);
  Require(start.has_value() == (p.size() >= kCompareStartFixed),
          "Compare_Start: refused only when short");
  if (start) {
    auto again = Again(BuildCompareStart(start->path), p, ReadCompareStart);
    Require(!again || again->path == start->path, "Compare_Start reads back");
  }
}

void CheckBlocks(Payload p) {
  auto check = ReadBlockCheck(p);
  Require(check.has_value() == (p.size() >= kBlockCheckSize),
          "Compare_Block (Check): refused only when short");
  if (check) {
    CheckText(check->md5, kMd5Width);
    auto again = ReadBlockCheck(
        BuildBlockCheck(check->fileId, check->start, check->len, check->startLong, check->md5));
    Require(again && again->fileId == check->fileId && again->start == check->start &&
                again->len == check->len && again->startLong == check->startLong &&
                again->md5 == check->md5,
            "Compare_Block (Check) reads back");
  }
  auto get = ReadBlockGet(p);
  Require(get.has_value() == (p.size() >= kBlockGetSize),
          "Compare_Block (Get): refused only when short");
  if (get) {
    auto again = ReadBlockGet(BuildBlockGet(get->fileId, get->start, get->len));
    Require(again && again->fileId == get->fileId && again->start == get->start &&
                again->len == get->len,
            "Compare_Block (Get) reads back");
  }
}

void CheckAnswers(Payload p) {
  auto check = ReadAnswerCheck(p);
  Require(check.has_value() == (p.size() >= kAnswerCheckSize),
          "Compare_BlockAnswer (Check): refused only when short");
  if (check) {
    auto again = ReadAnswerCheck(BuildAnswerCheck(check->fileId, check->position));
    Require(again && again->fileId == check->fileId && again->position == check->position,
            "Compare_BlockAnswer (Check) reads back");
  }
  auto get = ReadAnswerGet(p);
  Require(get.has_value() == (p.size() >= kAnswerGetFixed),
          "Compare_BlockAnswer (Get): refused only when short");
  if (!get) return;
  Require(get->data.data() == p.data() + kAnswerGetFixed &&
              get->data.size() == p.size() - kAnswerGetFixed,
          "Compare_BlockAnswer (Get): the data are the rest of the payload");
  const std::vector<uint8_t> built = BuildAnswerGet(get->fileId, get->start, get->len, get->data);
  auto again = Again(built, p, ReadAnswerGet);
  Require(
      !again ||
          (again->fileId == get->fileId && again->start == get->start && again->len == get->len &&
           std::equal(again->data.begin(), again->data.end(), get->data.begin(), get->data.end())),
      "Compare_BlockAnswer (Get) reads back");
}

void Run(Payload p) {
  Require(MessageCommand(p) == (p.empty() ? 0 : static_cast<int8_t>(p[0])),
          "byte 0 is the command");
  Require(MessageSubCode(p) == (p.size() < 2 ? 0 : static_cast<int8_t>(p[1])),
          "byte 1 is the sub-code");
  CheckHello(p);
  CheckOk(p);
  CheckError(p);
  CheckFileListAdd(p);
  CheckShortOnes(p);
  CheckBlocks(p);
  CheckAnswers(p);
}

}  // namespace
}  // namespace kelpie::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kelpie::fuzz::Run({data, size});
  return 0;
}
