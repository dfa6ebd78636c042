#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "compare/sync.h"
#include "transport/frames.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kMd5[] = "900150983cd24fb0d6963f7d28e17f72";
// kMd5 as the ASCII bytes it puts on the wire.
const std::string kMd5Hex =
    "39 30 30 31 35 30 39 38 33 63 64 32 34 66 62 30 64 36 39 36 33 66 37 64 32 38 65 31 37 66 "
    "37 32";
constexpr char kPath8[] = "/tmp/a.b";
const std::string kPath8Hex = "2F 74 6D 70 2F 61 2E 62";

std::string Hex(const Bytes& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

// An exactly sized heap copy of the first `size` bytes, so that the address
// sanitizer reports any read past the payload.
Bytes Prefix(const Bytes& bytes, size_t size) {
  return Bytes(bytes.begin(), bytes.begin() + size);
}

// ---- Wire bytes ----------------------------------------------------------

struct Golden {
  const char* name;
  Bytes (*build)();
  std::string hex;
};
void PrintTo(const Golden& c, std::ostream* out) {
  *out << c.name;
}

class WireBytes : public ::testing::TestWithParam<Golden> {};

TEST_P(WireBytes, MatchGoldenHex) {
  EXPECT_EQ(Hex(GetParam().build()), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, WireBytes,
    ::testing::Values(
        Golden{"HelloClient", [] { return BuildHello(kClientGreeting); },
               "02 00 01 48 65 6C 6C 6F 21 20 3A 29"},
        Golden{"HelloServer", [] { return BuildHello(kServerGreeting); },
               "02 00 01 4B 4C 50 45 20 56 65 72 73 69 6F 6E 20 31 2E 30 32 20 62 79 20 4D 6F 72 "
               "77 65 6E"},
        Golden{"HelloVersion2Empty", [] { return BuildHello("", 2); }, "02 00 02"},
        Golden{"OkHello", [] { return BuildOk(CmdHello, 1); }, "00 02 01 00 00 00"},
        Golden{"OkFileListGet", [] { return BuildOk(CmdFileList_Get, 258); }, "00 05 02 01 00 00"},
        Golden{"OkCompareStart", [] { return BuildOkCompareStart(0x12345678, kPath8); },
               "00 06 78 56 34 12 " + kPath8Hex},
        Golden{"ErrorCannotOpen", [] { return BuildError(CmdCompare_Start, 0); },
               "01 06 00 00 00 00"},
        Golden{"ErrorNotListed", [] { return BuildError(CmdCompare_Start, 1); },
               "01 06 01 00 00 00"},
        Golden{"FileListAdd", [] { return BuildFileListAdd(kMd5, 0x01020304, kPath8); },
               "03 01 " + kMd5Hex + " 04 03 02 01 " + kPath8Hex + " 00"},
        Golden{"FileListGet", [] { return BuildFileListGet(); }, "05 00 00 00 00 00"},
        Golden{"CompareStart", [] { return BuildCompareStart(kPath8); }, "06 00 " + kPath8Hex},
        Golden{"CompareStop", [] { return BuildCompareStop(-2); }, "07 00 FE FF FF FF"},
        Golden{"BlockCheck",
               [] { return BuildBlockCheck(0x0A0B0C0D, 524288, 1023, -123456789, kMd5); },
               "08 01 0D 0C 0B 0A 00 00 08 00 FF 03 00 00 EB 32 A4 F8 " + kMd5Hex},
        Golden{"BlockGet", [] { return BuildBlockGet(7, 65536, 32753); },
               "08 00 07 00 00 00 00 00 01 00 F1 7F 00 00"},
        Golden{"AnswerCheckFound", [] { return BuildAnswerCheck(0x11223344, 65536); },
               "09 01 44 33 22 11 00 00 01 00"},
        Golden{"AnswerCheckNotFound", [] { return BuildAnswerCheck(7, -1); },
               "09 01 07 00 00 00 FF FF FF FF"},
        Golden{"AnswerGet",
               [] {
                 const Bytes data = {0xAA, 0xBB, 0xCC};
                 return BuildAnswerGet(7, 1024, 3, data);
               },
               "09 00 07 00 00 00 00 04 00 00 03 00 00 00 AA BB CC"},
        Golden{"AnswerGetEmpty", [] { return BuildAnswerGet(7, 0, 0, {}); },
               "09 00 07 00 00 00 00 00 00 00 00 00 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WireSizes, PathOfEightCharacters) {
  Bytes add = BuildFileListAdd(kMd5, 100, kPath8);
  ASSERT_EQ(add.size(), 47u);
  EXPECT_EQ(add.back(), 0);

  Bytes start = BuildCompareStart(kPath8);
  ASSERT_EQ(start.size(), 10u);
  EXPECT_EQ(start.back(), 'b');

  EXPECT_EQ(BuildOkCompareStart(1, kPath8).size(), 14u);
}

TEST(WireSizes, CheckIsAlwaysFiftyBytesEndingInTheMd5) {
  for (std::string_view md5 : {std::string_view(kMd5), std::string_view("")}) {
    Bytes check = BuildBlockCheck(1, 2, 3, 4, md5);
    ASSERT_EQ(check.size(), kBlockCheckSize);
    EXPECT_EQ(check[49], md5.empty() ? 0 : '2');
  }
}

TEST(WireSizes, AnswerCheckNotFoundIsAllOnesAtSixToNine) {
  Bytes answer = BuildAnswerCheck(0, -1);
  ASSERT_EQ(answer.size(), kAnswerCheckSize);
  EXPECT_EQ(Bytes(answer.begin() + 6, answer.end()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

// ---- MD5 field width -----------------------------------------------------

TEST(Md5Field, ShortTextIsPaddedWithZeroBytes) {
  Bytes add = BuildFileListAdd("abc", -1, "p");
  ASSERT_EQ(add.size(), 40u);
  EXPECT_EQ(Bytes(add.begin() + 2, add.begin() + 5), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(Bytes(add.begin() + 5, add.begin() + 34), Bytes(29, 0));
  EXPECT_EQ(Hex(Bytes(add.begin() + 34, add.end())), "FF FF FF FF 70 00");

  std::optional<FileListAddMessage> read = ReadFileListAdd(add);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->md5, "abc");
  EXPECT_EQ(read->size, -1);
  EXPECT_EQ(read->path, "p");
}

TEST(Md5Field, LongTextIsCutToThirtyTwoCharacters) {
  std::string longer = std::string(kMd5) + "ffffffff";
  Bytes add = BuildFileListAdd(longer, 5, "p");
  ASSERT_EQ(add.size(), 40u);
  EXPECT_EQ(ReadFileListAdd(add)->md5, kMd5);
  EXPECT_EQ(ReadFileListAdd(add)->size, 5);

  Bytes check = BuildBlockCheck(1, 2, 3, 4, longer);
  ASSERT_EQ(check.size(), kBlockCheckSize);
  EXPECT_EQ(ReadBlockCheck(check)->md5, kMd5);
}

// ---- Round trips ---------------------------------------------------------

const int32_t kLongs[] = {0, 1, -1, INT32_MIN, INT32_MAX, 0x12345678};

TEST(RoundTrip, Hello) {
  for (uint8_t version : {0, 1, 2, 255}) {
    std::optional<HelloMessage> hello = ReadHello(BuildHello(kServerGreeting, version));
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->netVersion, version);
    EXPECT_EQ(hello->greeting, kServerGreeting);
  }
}

TEST(RoundTrip, OkAndError) {
  for (int32_t value : kLongs) {
    for (int8_t command : {CmdHello, CmdFileList_Get}) {
      std::optional<OkMessage> ok = ReadOk(BuildOk(command, value));
      ASSERT_TRUE(ok);
      EXPECT_EQ(ok->acknowledged, command);
      EXPECT_EQ(ok->value, value);
      EXPECT_EQ(ok->path, "");
    }
    std::optional<OkMessage> ok = ReadOk(BuildOkCompareStart(value, "C:\\data\\file.bin"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->acknowledged, CmdCompare_Start);
    EXPECT_EQ(ok->value, value);
    EXPECT_EQ(ok->path, "C:\\data\\file.bin");

    std::optional<ErrorMessage> error = ReadError(BuildError(CmdCompare_Start, value));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->refused, CmdCompare_Start);
    EXPECT_EQ(error->code, value);
  }
}

TEST(RoundTrip, FileListMessages) {
  for (int32_t size : kLongs) {
    std::optional<FileListAddMessage> add =
        ReadFileListAdd(BuildFileListAdd(kMd5, size, "/home/u/x.iso"));
    ASSERT_TRUE(add);
    EXPECT_EQ(add->md5, kMd5);
    EXPECT_EQ(add->size, size);
    EXPECT_EQ(add->path, "/home/u/x.iso");
  }
  EXPECT_TRUE(ReadFileListGet(BuildFileListGet()));
}

TEST(RoundTrip, CompareStartAndStop) {
  EXPECT_EQ(ReadCompareStart(BuildCompareStart("/a b/c"))->path, "/a b/c");
  EXPECT_EQ(ReadCompareStart(BuildCompareStart(""))->path, "");
  for (int32_t fileId : kLongs)
    EXPECT_EQ(ReadCompareStop(BuildCompareStop(fileId))->fileId, fileId);
}

TEST(RoundTrip, BlockMessages) {
  for (int32_t a : kLongs) {
    int32_t b = ~a;
    std::optional<BlockCheckMessage> check =
        ReadBlockCheck(BuildBlockCheck(a, b, a ^ 5, b ^ 9, kMd5));
    ASSERT_TRUE(check);
    EXPECT_EQ(check->fileId, a);
    EXPECT_EQ(check->start, b);
    EXPECT_EQ(check->len, a ^ 5);
    EXPECT_EQ(check->startLong, b ^ 9);
    EXPECT_EQ(check->md5, kMd5);

    std::optional<BlockGetMessage> get = ReadBlockGet(BuildBlockGet(a, b, a ^ 5));
    ASSERT_TRUE(get);
    EXPECT_EQ(get->fileId, a);
    EXPECT_EQ(get->start, b);
    EXPECT_EQ(get->len, a ^ 5);

    std::optional<AnswerCheckMessage> answer = ReadAnswerCheck(BuildAnswerCheck(a, b));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->fileId, a);
    EXPECT_EQ(answer->position, b);
  }
}

TEST(RoundTrip, AnswerGetTakesTheDataLengthFromThePayload) {
  const Bytes data = {1, 0, 2, 0, 3};
  Bytes payload = BuildAnswerGet(-7, 40000, 1000, data);  // len field disagrees on purpose
  std::optional<AnswerGetMessage> answer = ReadAnswerGet(payload);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->fileId, -7);
  EXPECT_EQ(answer->start, 40000);
  EXPECT_EQ(answer->len, 1000);
  EXPECT_EQ(Bytes(answer->data.begin(), answer->data.end()), data);
  EXPECT_EQ(answer->data.data(), payload.data() + kAnswerGetFixed);
}

// ---- Command and sub-code bytes ------------------------------------------

TEST(HeaderBytes, AreReadAsSignedAndZeroWhenMissing) {
  EXPECT_EQ(MessageCommand(Bytes{}), 0);
  EXPECT_EQ(MessageSubCode(Bytes{9}), 0);
  EXPECT_EQ(MessageCommand(Bytes{0xFF, 0x80}), -1);
  EXPECT_EQ(MessageSubCode(Bytes{0xFF, 0x80}), -128);
  EXPECT_EQ(MessageCommand(BuildAnswerCheck(1, 2)), CmdCompare_BlockAnswer);
  EXPECT_EQ(MessageSubCode(BuildAnswerCheck(1, 2)), SubCheck);

  EXPECT_EQ(ReadOk(Bytes{0, 0x86, 0, 0, 0, 0})->acknowledged, -122);
  EXPECT_EQ(ReadError(Bytes{1, 0xF6, 0, 0, 0, 0})->refused, -10);
}

TEST(OkPath, IsReadOnlyForAnAcknowledgedCompareStart) {
  for (uint8_t acknowledged : {0, 2, 5, 7, 0x86}) {
    std::optional<OkMessage> ok = ReadOk(Bytes{0, acknowledged, 1, 0, 0, 0, 'A', 'B'});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->path, "") << int(acknowledged);
    EXPECT_EQ(ok->value, 1);
  }
  EXPECT_EQ(ReadOk(Bytes{0, 6, 1, 0, 0, 0, 'A', 'B'})->path, "AB");
}

// ---- Text fields ---------------------------------------------------------

TEST(TextFields, StopAtAnEmbeddedZeroByte) {
  const std::string_view cut("ab\0cd", 5);
  EXPECT_EQ(ReadHello(BuildHello(cut))->greeting, "ab");
  EXPECT_EQ(ReadOk(BuildOkCompareStart(1, cut))->path, "ab");
  EXPECT_EQ(ReadCompareStart(BuildCompareStart(cut))->path, "ab");

  std::optional<FileListAddMessage> add = ReadFileListAdd(BuildFileListAdd(cut, 3, cut));
  ASSERT_TRUE(add);
  EXPECT_EQ(add->md5, "ab");
  EXPECT_EQ(add->size, 3);
  EXPECT_EQ(add->path, "ab");

  std::optional<BlockCheckMessage> check = ReadBlockCheck(BuildBlockCheck(1, 2, 3, 4, cut));
  ASSERT_TRUE(check);
  EXPECT_EQ(check->md5, "ab");
}

TEST(TextFields, AFullMd5FieldDoesNotRunIntoTheNextField) {
  // No zero byte inside the MD5 field: the reader must stop at its width.
  std::optional<FileListAddMessage> add =
      ReadFileListAdd(BuildFileListAdd(kMd5, 0x41414141, "path"));
  ASSERT_TRUE(add);
  EXPECT_EQ(add->md5.size(), 32u);
}

TEST(TextFields, FileListAddWithoutPathOrTerminatorReadsAnEmptyPath) {
  Bytes payload = Prefix(BuildFileListAdd(kMd5, 9, "abc"), kFileListAddFixed);
  std::optional<FileListAddMessage> add = ReadFileListAdd(payload);
  ASSERT_TRUE(add);
  EXPECT_EQ(add->path, "");
  EXPECT_EQ(add->size, 9);
  // Without the terminator the path runs to the end of the payload.
  EXPECT_EQ(ReadFileListAdd(Prefix(BuildFileListAdd(kMd5, 9, "abc"), 40))->path, "ab");
}

// ---- Truncation ----------------------------------------------------------

struct Truncation {
  const char* name;
  size_t fixed;
  Bytes (*build)();
  bool (*read)(std::span<const uint8_t>);
};
void PrintTo(const Truncation& c, std::ostream* out) {
  *out << c.name;
}

class Truncated : public ::testing::TestWithParam<Truncation> {};

TEST_P(Truncated, EveryLengthBelowTheFixedPartIsRefused) {
  const Truncation& c = GetParam();
  Bytes full = c.build();
  ASSERT_GE(full.size(), c.fixed);
  for (size_t size = 0; size < c.fixed; ++size) {
    EXPECT_FALSE(c.read(Prefix(full, size))) << size << " bytes";
  }
  EXPECT_TRUE(c.read(Prefix(full, c.fixed)));
  EXPECT_TRUE(c.read(full));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, Truncated,
    ::testing::Values(
        Truncation{"Hello", kHelloFixed, [] { return BuildHello("hi"); },
                   [](std::span<const uint8_t> p) { return ReadHello(p).has_value(); }},
        Truncation{"Ok", kShortMessageSize, [] { return BuildOkCompareStart(3, "/x"); },
                   [](std::span<const uint8_t> p) { return ReadOk(p).has_value(); }},
        Truncation{"Error", kShortMessageSize, [] { return BuildError(CmdCompare_Start, 1); },
                   [](std::span<const uint8_t> p) { return ReadError(p).has_value(); }},
        Truncation{"FileListAdd", kFileListAddFixed, [] { return BuildFileListAdd(kMd5, 1, "/x"); },
                   [](std::span<const uint8_t> p) { return ReadFileListAdd(p).has_value(); }},
        Truncation{"FileListGet", kShortMessageSize, [] { return BuildFileListGet(); },
                   [](std::span<const uint8_t> p) { return ReadFileListGet(p); }},
        Truncation{"CompareStart", kCompareStartFixed, [] { return BuildCompareStart("/x"); },
                   [](std::span<const uint8_t> p) { return ReadCompareStart(p).has_value(); }},
        Truncation{"CompareStop", kShortMessageSize, [] { return BuildCompareStop(3); },
                   [](std::span<const uint8_t> p) { return ReadCompareStop(p).has_value(); }},
        Truncation{"BlockCheck", kBlockCheckSize, [] { return BuildBlockCheck(1, 2, 3, 4, kMd5); },
                   [](std::span<const uint8_t> p) { return ReadBlockCheck(p).has_value(); }},
        Truncation{"BlockGet", kBlockGetSize, [] { return BuildBlockGet(1, 2, 3); },
                   [](std::span<const uint8_t> p) { return ReadBlockGet(p).has_value(); }},
        Truncation{"AnswerCheck", kAnswerCheckSize, [] { return BuildAnswerCheck(1, -1); },
                   [](std::span<const uint8_t> p) { return ReadAnswerCheck(p).has_value(); }},
        Truncation{"AnswerGet", kAnswerGetFixed,
                   [] {
                     const Bytes data(5, 0x5A);
                     return BuildAnswerGet(1, 2, 5, data);
                   },
                   [](std::span<const uint8_t> p) { return ReadAnswerGet(p).has_value(); }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Largest payload -----------------------------------------------------

struct Limit {
  const char* name;
  size_t largest;  // variable bytes of the largest message that fits one frame
  Bytes (*build)(size_t variable);
};
void PrintTo(const Limit& c, std::ostream* out) {
  *out << c.name;
}

class PayloadLimit : public ::testing::TestWithParam<Limit> {};

TEST_P(PayloadLimit, LargestFitsAndOneMoreByteGivesNothing) {
  const Limit& c = GetParam();
  EXPECT_EQ(c.build(c.largest).size(), static_cast<size_t>(kMaxPayload));
  EXPECT_TRUE(c.build(c.largest + 1).empty());
  EXPECT_TRUE(c.build(100000).empty());
}

std::string Text(size_t size) {
  return std::string(size, 'p');
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, PayloadLimit,
    ::testing::Values(
        Limit{"Hello", 32764, [](size_t n) { return BuildHello(Text(n)); }},
        Limit{"OkCompareStart", 32761, [](size_t n) { return BuildOkCompareStart(1, Text(n)); }},
        Limit{"FileListAdd", 32728, [](size_t n) { return BuildFileListAdd(kMd5, 1, Text(n)); }},
        Limit{"CompareStart", 32765, [](size_t n) { return BuildCompareStart(Text(n)); }},
        Limit{"AnswerGet", static_cast<size_t>(kMaxGetLength),
              [](size_t n) {
                const Bytes data(n, 0x33);
                return BuildAnswerGet(1, 0, static_cast<int32_t>(n), data);
              }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PayloadLimit, LargestAnswerGetReadsBackWhole) {
  const Bytes data(kMaxGetLength, 0x33);
  Bytes payload = BuildAnswerGet(1, 0, kMaxGetLength, data);
  ASSERT_EQ(payload.size(), 32767u);
  EXPECT_EQ(ReadAnswerGet(payload)->data.size(), static_cast<size_t>(kMaxGetLength));
}

}  // namespace
}  // namespace kelpie
