// Content-defined ranges and the responder's index of them.
#include <gtest/gtest.h>

#include <algorithm>

#include "compare/chunk_index.h"
#include "compare/content_chunks.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using Bytes = std::vector<uint8_t>;

// Text-like bytes: lines of a few repeating words.
Bytes Text(size_t size) {
  const std::string words[] = {"kelpie ", "compare ", "range ", "log ", "2026-12-08 ", "\n"};
  Bytes bytes;
  for (uint32_t i = 1; bytes.size() < size; i = i * 1103515245 + 12345) {
    const std::string& w = words[(i >> 16) % 6];
    bytes.insert(bytes.end(), w.begin(), w.end());
  }
  bytes.resize(size);
  return bytes;
}

Bytes Zeros(size_t size) {
  return Bytes(size, 0);
}

class EveryContent : public ::testing::TestWithParam<Bytes (*)(size_t)> {};

// Every level's ranges cover the file exactly, within their longest length.
TEST_P(EveryContent, LevelsCoverTheFileWithinTheirLimits) {
  const Bytes data = GetParam()(3'000'000);
  const ChunkCuts cuts = CutChunks(data);
  ASSERT_EQ(cuts.ends.back(), static_cast<int64_t>(data.size()));
  for (int level = 0; level <= kTopChunkLevel; ++level) {
    int64_t at = 0;
    for (const ChunkRange& range : RangesOfLevel(cuts, level, 0, std::ssize(data))) {
      EXPECT_EQ(range.start, at);
      EXPECT_GT(range.len, 0);
      EXPECT_LE(range.len, MaxRangeLength(level));
      at += range.len;
    }
    EXPECT_EQ(at, std::ssize(data)) << level;
  }
}

Bytes Random(size_t size) {
  return RandomBytes(size, 3);
}

INSTANTIATE_TEST_SUITE_P(Contents, EveryContent, ::testing::Values(&Random, &Text, &Zeros));

// Bytes inserted in the middle move the cuts behind them and change none.
TEST(ContentChunks, CutsFollowTheContentPastAnInsertion) {
  const Bytes before = RandomBytes(2'000'000, 4);
  Bytes after = before;
  const Bytes extra = RandomBytes(1000, 5);
  after.insert(after.begin() + 1'000'000, extra.begin(), extra.end());
  const ChunkCuts a = CutChunks(before), b = CutChunks(after);
  std::vector<std::pair<int64_t, int>> tailA, tailB;
  for (size_t i = 0; i < a.ends.size(); ++i) {
    if (a.ends[i] > 1'100'000) tailA.push_back({a.ends[i] + 1000, a.level[i]});
  }
  for (size_t i = 0; i < b.ends.size(); ++i) {
    if (b.ends[i] > 1'101'000) tailB.push_back({b.ends[i], b.level[i]});
  }
  EXPECT_EQ(tailA, tailB);
}

TEST(ChunkIndex, FindsOwnOffsetFirstThenElsewhereElseNothing) {
  Bytes peer = Zeros(1'000'000);
  const Bytes island = RandomBytes(200'000, 6);
  std::copy(island.begin(), island.end(), peer.begin() + 500'000);
  const ChunkIndex index(peer);
  int64_t budget = INT64_MAX;
  // Zeros are held at many places; their own offset wins.
  const Bytes zeros(8192, 0);
  EXPECT_EQ(index.Find({123'456, 8192, RangeHash(zeros)}, budget), 123'456);
  // A range of the island, asked about from where it is not.
  const ChunkCuts cuts = CutChunks(peer);
  const auto cut = std::upper_bound(cuts.ends.begin(), cuts.ends.end(), 520'000);
  const int64_t start = *cut, len = *(cut + 1) - start;
  const uint64_t hash = RangeHash(std::span(peer).subspan(start, len));
  EXPECT_EQ(index.Find({40, len, hash}, budget), start);
  EXPECT_EQ(index.Find({40, len, hash + 1}, budget), -1);
  EXPECT_EQ(index.Find({40, 0, hash}, budget), -1);
  // Without budget only the table is asked, which knows zeros elsewhere.
  int64_t none = 0;
  EXPECT_NE(index.Find({654'321, 8192, RangeHash(zeros)}, none), 654'321);
  EXPECT_EQ(none, 0);
}

}  // namespace
}  // namespace kelpie
