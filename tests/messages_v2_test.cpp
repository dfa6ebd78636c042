// The second version's messages: golden bytes, round trips and payloads of
// the wrong length.
#include <gtest/gtest.h>

#include <functional>

#include "compare/version2_strategy.h"
#include "protocol/messages_v2.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(MessagesV2, GoldenBytes) {
  EXPECT_EQ(BuildV2Start(0x01020304, "/a"), (Bytes{16, 0, 4, 3, 2, 1, '/', 'a'}));
  EXPECT_EQ(BuildV2KeepAlive(), (Bytes{23, 0}));
  EXPECT_EQ(BuildV2Get({7, 9, 0x0102030405, 0x8000}),
            (Bytes{20, 0, 7, 0, 0, 0, 9, 0, 0, 0, 5, 4, 3, 2, 1, 0, 0, 0, 0, 0x80, 0, 0}));
  // Starts go as the zigzag of the gap behind the entry before, lengths as
  // varints: 0x10 after 0 is 0x20; 0x40 right behind 0x10 + 0x20 is 0x20;
  // 300 is AC 02.
  const RangeCheck checks[] = {{0x10, 0x20, 0x0807060504030201ull}, {0x40, 300, 9}};
  EXPECT_EQ(BuildV2Check(1, 2, checks),
            (Bytes{18, 0, 1, 0, 0, 0,    2,    0,    0, 0, 2, 0, 0x20, 0x20, 1, 2, 3,
                   4,  5, 6, 7, 8, 0x20, 0xAC, 0x02, 9, 0, 0, 0, 0,    0,    0, 0}));
  const int64_t codes[] = {FoundCode(-1, 5), FoundCode(5, 5), FoundCode(4, 5), FoundCode(69, 5)};
  EXPECT_EQ(BuildV2CheckAnswer(1, 2, codes),
            (Bytes{19, 0, 1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 1, 2, 0x81, 0x01}));
  for (int64_t found : {int64_t{-1}, int64_t{0}, int64_t{5}, int64_t{1} << 40}) {
    EXPECT_EQ(FoundFromCode(FoundCode(found, 1000), 1000), found);
  }
  EXPECT_EQ(FoundFromCode(FoundCode(0, 1000) + 2, 1000), -1);  // before the file
  const Bytes zeros = BuildV2Data(1, 2, 3, 40000, {});
  EXPECT_EQ(zeros,
            (Bytes{21, 1, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x9C, 0, 0}));
  const Bytes data = BuildV2Data(1, 2, 3, 2, Bytes{0xAA, 0xBB});
  EXPECT_EQ(data.size(), kV2DataFixed + 2);
  EXPECT_EQ(data[1], 0);
  EXPECT_EQ(data[18], 2);
  V2AcceptMessage accept{kAccepted, 5, 1000, {}};
  accept.hash[0] = 0xAB;
  accept.hash[31] = 0xCD;
  const Bytes acceptBytes = BuildV2Accept(accept);
  ASSERT_EQ(acceptBytes.size(), kV2AcceptSize);
  EXPECT_EQ(acceptBytes[6], 0xE8);
  EXPECT_EQ(acceptBytes[7], 0x03);
  EXPECT_EQ(acceptBytes[14], 0xAB);
  EXPECT_EQ(acceptBytes[45], 0xCD);
}

TEST(MessagesV2, RoundTrips) {
  // Entries at their longest encoding: the most a batch holds still fits.
  std::vector<RangeCheck> checks(kMaxChecksPerBatch);
  for (size_t i = 0; i < checks.size(); ++i) {
    checks[i] = {i % 2 ? INT64_MAX - int64_t(i) : int64_t(i) << 33, INT64_MAX / 3, i * 77};
  }
  const Bytes built = BuildV2Check(3, 4, checks);
  ASSERT_FALSE(built.empty());
  auto read = ReadV2Check(built);
  ASSERT_TRUE(read);
  for (size_t i = 0; i < checks.size(); ++i) {
    ASSERT_EQ(read->checks[i].start, checks[i].start) << i;
    ASSERT_EQ(read->checks[i].len, checks[i].len) << i;
    ASSERT_EQ(read->checks[i].hash, checks[i].hash) << i;
  }
  checks.resize(3000);
  EXPECT_TRUE(BuildV2Check(3, 4, checks).empty());  // past one frame

  auto data = ReadV2Data(BuildV2Data(1, 2, int64_t{1} << 40, 2, Bytes{7, 8}));
  ASSERT_TRUE(data);
  EXPECT_EQ(data->offset, int64_t{1} << 40);
  EXPECT_EQ(data->bytes.size(), 2u);
  auto zeros = ReadV2Data(BuildV2Data(1, 2, 0, 500, {}));
  ASSERT_TRUE(zeros);
  EXPECT_TRUE(zeros->zeros);
  EXPECT_EQ(zeros->len, 500);
  auto accept = ReadV2Accept(BuildV2Accept({kAcceptNotListed, 9, 0, {}}));
  ASSERT_TRUE(accept);
  EXPECT_EQ(accept->result, kAcceptNotListed);
  const Bytes fileAdd =
      BuildV2FileAdd("0123456789abcdef0123456789abcdef", int64_t{5} << 32, "/big");
  ASSERT_EQ(fileAdd.size(), kV2FileAddFixed + 5);
  EXPECT_EQ(fileAdd[0], 22);
  EXPECT_EQ(fileAdd[38], 5);  // the size's fifth byte
  auto added = ReadV2FileAdd(fileAdd);
  ASSERT_TRUE(added);
  EXPECT_EQ(added->size, int64_t{5} << 32);
  EXPECT_EQ(added->md5, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(added->path, "/big");
  EXPECT_FALSE(ReadV2FileAdd(Bytes(fileAdd.begin(), fileAdd.begin() + kV2FileAddFixed - 1)));
  auto start = ReadV2Start(BuildV2Start(6, "/x/y"));
  ASSERT_TRUE(start);
  EXPECT_EQ(start->path, "/x/y");
}

// Every reader refuses a payload one byte short or one byte long.
TEST(MessagesV2, WrongLengthsAreRefused) {
  const RangeCheck check{1, 2, 3};
  const int64_t found = 300;
  const std::vector<std::pair<Bytes, std::function<bool(const Bytes&)>>> cases = {
      {BuildV2Check(1, 1, std::span(&check, 1)), [](const Bytes& b) { return !!ReadV2Check(b); }},
      {BuildV2CheckAnswer(1, 1, std::span(&found, 1)),
       [](const Bytes& b) { return !!ReadV2CheckAnswer(b); }},
      {BuildV2Get({1, 1, 1, 1}), [](const Bytes& b) { return !!ReadV2Get(b); }},
      {BuildV2Accept({}), [](const Bytes& b) { return !!ReadV2Accept(b); }},
      {BuildV2Data(1, 1, 0, 3, Bytes{1, 2, 3}), [](const Bytes& b) { return !!ReadV2Data(b); }},
      {BuildV2Data(1, 1, 0, 3, {}), [](const Bytes& b) { return !!ReadV2Data(b); }},
      {BuildV2KeepAlive(), [](const Bytes& b) { return IsV2KeepAlive(b); }},
  };
  for (const auto& [bytes, reads] : cases) {
    EXPECT_TRUE(reads(bytes));
    Bytes shorter(bytes.begin(), bytes.end() - 1), longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(reads(shorter)) << int(bytes[0]);
    EXPECT_FALSE(reads(longer)) << int(bytes[0]);
  }
  EXPECT_FALSE(ReadV2Start(Bytes{16, 0, 1}));
}

}  // namespace
}  // namespace kelpie
