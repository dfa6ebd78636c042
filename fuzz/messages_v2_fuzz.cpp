// Every reader of the second version's messages, fed any payload.
//
// A reader refuses a payload of the wrong length (for a batch: one that does
// not end exactly after its entries) and never reads past it. What it reads,
// built again with the matching builder, reads back the same; a batch built
// again is never longer than the one read, since the builder writes every
// varint in its shortest form.

#include <algorithm>
#include <span>
#include <vector>

#include "protocol/messages_v2.h"
#include "support/require.h"
#include "transport/frames.h"
#include "transport/little_endian.h"

namespace kelpie::fuzz {
namespace {

using Payload = std::span<const uint8_t>;

bool Fits(Payload p) {
  return p.size() <= static_cast<size_t>(kMaxPayload);
}

void CheckFileAdd(Payload p) {
  auto add = ReadV2FileAdd(p);
  const bool sizeFits = p.size() >= kV2FileAddFixed && (p[41] & 0x80) == 0;
  Require(add.has_value() == sizeFits, "FileList_Add (2): refused only when short or past 63 bits");
  if (!add) return;
  Require(add->md5.size() <= kMd5Width && add->size >= 0, "FileList_Add (2): fields in range");
  const std::vector<uint8_t> built = BuildV2FileAdd(add->md5, add->size, add->path);
  // The builder adds the closing zero byte, which a payload at the limit lacks.
  Require(!built.empty() || p.size() >= static_cast<size_t>(kMaxPayload),
          "FileList_Add (2) can be built again");
  if (built.empty()) return;
  auto again = ReadV2FileAdd(built);
  Require(again && again->md5 == add->md5 && again->size == add->size && again->path == add->path,
          "FileList_Add (2) reads back");
}

void CheckStart(Payload p) {
  auto start = ReadV2Start(p);
  Require(start.has_value() == (p.size() >= kV2StartFixed),
          "Compare_Start (2): refused only when short");
  if (!start || !Fits(p)) return;
  Require(start->path.find('\0') == std::string::npos,
          "Compare_Start (2): the path stops at a zero");
  auto again = ReadV2Start(BuildV2Start(start->job, start->path));
  Require(again && again->job == start->job && again->path == start->path,
          "Compare_Start (2) reads back");
}

void CheckAccept(Payload p) {
  auto accept = ReadV2Accept(p);
  Require(accept.has_value() == (p.size() == kV2AcceptSize), "Compare_Accept: exactly 46 bytes");
  if (!accept) return;
  Require(accept->size >= -1, "Compare_Accept: a size past 63 bits reads as -1");
  const std::vector<uint8_t> built = BuildV2Accept(*accept);
  auto again = ReadV2Accept(built);
  Require(again && again->result == accept->result && again->job == accept->job &&
              again->size == accept->size && again->hash == accept->hash,
          "Compare_Accept reads back");
  Require(accept->size < 0 || std::equal(p.begin() + 1, p.end(), built.begin() + 1),
          "Compare_Accept is built as it came");
}

void CheckBatch(Payload p) {
  auto check = ReadV2Check(p);
  if (check) {
    Require(check->checks.size() == ReadU16(p, 10), "Compare_Check: as many entries as counted");
    const std::vector<uint8_t> built = BuildV2Check(check->job, check->batch, check->checks);
    Require(!built.empty() || !Fits(p), "Compare_Check can be built again");
    Require(built.size() <= p.size(), "Compare_Check is built no longer than it came");
    auto again = built.empty() ? std::nullopt : ReadV2Check(built);
    Require(built.empty() || (again && again->job == check->job && again->batch == check->batch &&
                              again->checks.size() == check->checks.size()),
            "Compare_Check reads back");
    for (size_t i = 0; again && i < check->checks.size(); ++i) {
      const RangeCheck& a = again->checks[i];
      const RangeCheck& b = check->checks[i];
      Require(a.start == b.start && a.len == b.len && a.hash == b.hash && b.len >= 0,
              "Compare_Check entries read back");
    }
  }
  auto answer = ReadV2CheckAnswer(p);
  if (answer) {
    Require(answer->found.size() == ReadU16(p, 10),
            "Compare_CheckAnswer: as many codes as counted");
    const std::vector<uint8_t> built =
        BuildV2CheckAnswer(answer->job, answer->batch, answer->found);
    Require(!built.empty() || !Fits(p), "Compare_CheckAnswer can be built again");
    Require(built.size() <= p.size(), "Compare_CheckAnswer is built no longer than it came");
    auto again = built.empty() ? std::nullopt : ReadV2CheckAnswer(built);
    Require(built.empty() || (again && again->job == answer->job && again->batch == answer->batch &&
                              again->found == answer->found),
            "Compare_CheckAnswer reads back");
  }
  Require(p.size() >= kV2BatchFixed || (!check && !answer), "a batch has its fixed part");
}

void CheckGet(Payload p) {
  auto get = ReadV2Get(p);
  Require(get.has_value() == (p.size() == kV2GetSize), "Compare_Get: exactly 22 bytes");
  if (!get) return;
  Require(get->offset >= -1 && get->len >= 0 && get->len <= UINT32_MAX,
          "Compare_Get: fields in range");
  auto again = ReadV2Get(BuildV2Get(*get));
  Require(again && again->job == get->job && again->request == get->request &&
              again->offset == get->offset && again->len == get->len,
          "Compare_Get reads back");
}

void CheckData(Payload p) {
  auto data = ReadV2Data(p);
  if (!data) return;
  Require(p.size() >= kV2DataFixed, "Compare_Data has its fixed part");
  Require(data->zeros ? data->bytes.empty() && p.size() == kV2DataFixed
                      : std::ssize(data->bytes) == data->len &&
                            data->bytes.data() == p.data() + kV2DataFixed,
          "Compare_Data: zeros carry nothing, data as many bytes as its len says");
  const std::vector<uint8_t> built =
      BuildV2Data(data->job, data->request, data->offset, data->len, data->bytes);
  Require(!built.empty() || !Fits(p), "Compare_Data can be built again");
  if (built.empty()) return;
  auto again = ReadV2Data(built);
  // An empty piece ends a Get whether or not it is flagged as zeros.
  const bool sameKind = again && (again->zeros == data->zeros || data->len == 0);
  Require(sameKind && again->job == data->job && again->request == data->request &&
              again->offset == data->offset && again->len == data->len &&
              std::equal(again->bytes.begin(), again->bytes.end(), data->bytes.begin(),
                         data->bytes.end()),
          "Compare_Data reads back");
}

void Run(Payload p) {
  CheckFileAdd(p);
  CheckStart(p);
  CheckAccept(p);
  CheckBatch(p);
  CheckGet(p);
  CheckData(p);
}

}  // namespace
}  // namespace kelpie::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kelpie::fuzz::Run({data, size});
  return 0;
}
