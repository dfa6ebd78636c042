// Content-defined ranges: the cuts against the documented rule byte by byte,
// the compact list of them, and the levels built on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>

#include "compare/content_chunks.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using Bytes = std::vector<uint8_t>;

struct Cut {
  int64_t end = 0;
  int level = 0;
  bool operator==(const Cut&) const = default;
};

// The cut rule exactly as docs/protocol-v2.md states it, one byte a step and
// with no shortcut, to hold the fast cutting to.
std::vector<Cut> DocumentedCuts(const Bytes& data) {
  std::array<uint64_t, 256> gear{};
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint64_t& g : gear) {
    x += 0x9E3779B97F4A7C15ull;
    uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    g = z ^ (z >> 31);
  }
  const auto n = std::ssize(data);
  std::vector<Cut> cuts;
  std::array<int64_t, 4> last{};
  for (int64_t s = 0; s < n;) {
    const int64_t limit = std::min(n, s + 8192);
    int64_t e = limit;
    int level = 0;
    if (limit - s > 128) {
      uint64_t h = 0;
      for (int64_t i = std::max(s, s + 128 - 64); i <= s + 127; ++i)
        h = (h << 1) + gear[data[i]];
      for (int64_t i = s + 128; i < limit; ++i) {
        h = (h << 1) + gear[data[i]];
        if (h < (uint64_t{1} << 56)) {
          e = i + 1;
          level = std::min(3, (std::countl_zero(h) - 8) / 3);
          break;
        }
      }
    }
    if (e == n) level = 3;
    for (int k = level + 1; k <= 3; ++k) {
      if (e - last[k] > (int64_t{8192} << (3 * k)) - 8192) level = k;
    }
    for (int k = 0; k <= level; ++k)
      last[k] = e;
    cuts.push_back({e, level});
    s = e;
  }
  return cuts;
}

std::vector<Cut> CutsOf(const ChunkCuts& cuts) {
  std::vector<Cut> list;
  for (size_t i = 0; i < cuts.Count(); ++i)
    list.push_back({cuts.End(i), cuts.Level(i)});
  return list;
}

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

Bytes Random(size_t size) {
  return RandomBytes(size, 3);
}

// Random bytes with islands of zeros every 50000 bytes.
Bytes Holed(size_t size) {
  Bytes bytes = RandomBytes(size, 8);
  for (size_t at = 0; at < size; at += 50'000)
    std::fill(bytes.begin() + at, bytes.begin() + std::min(size, at + 30'000), 0);
  return bytes;
}

class ChunkCutsOfEveryContent : public ::testing::TestWithParam<Bytes (*)(size_t)> {};

// Every level's ranges cover the file exactly, within their longest length.
TEST_P(ChunkCutsOfEveryContent, LevelsCoverTheFileWithinTheirLimits) {
  const Bytes data = GetParam()(3'000'000);
  const ChunkCuts cuts = CutChunks(data);
  ASSERT_EQ(cuts.End(cuts.Count() - 1), std::ssize(data));
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

// The cuts are the documented ones, and the list costs two bytes a chunk
// and little more: at most 1/64 of the data, the shortest chunks assumed.
TEST_P(ChunkCutsOfEveryContent, CutsAreTheDocumentedOnesInLittleMemory) {
  const Bytes data = GetParam()(3'000'000);
  const ChunkCuts cuts = CutChunks(data);
  EXPECT_EQ(CutsOf(cuts), DocumentedCuts(data));
  EXPECT_LE(cuts.MemoryBytes(), cuts.Count() * 2 + cuts.Count() / 8 + 64);
  EXPECT_LE(cuts.MemoryBytes(), data.size() / 64);
}

INSTANTIATE_TEST_SUITE_P(Contents, ChunkCutsOfEveryContent,
                         ::testing::Values(&Random, &Text, &Zeros, &Holed));

// Bytes inserted in the middle move the cuts behind them and change none.
TEST(ContentChunks, CutsFollowTheContentPastAnInsertion) {
  const Bytes before = RandomBytes(2'000'000, 4);
  Bytes after = before;
  const Bytes extra = RandomBytes(1000, 5);
  after.insert(after.begin() + 1'000'000, extra.begin(), extra.end());
  const ChunkCuts a = CutChunks(before), b = CutChunks(after);
  std::vector<Cut> tailA, tailB;
  for (const Cut& cut : CutsOf(a)) {
    if (cut.end > 1'100'000) tailA.push_back({cut.end + 1000, cut.level});
  }
  for (const Cut& cut : CutsOf(b)) {
    if (cut.end > 1'101'000) tailB.push_back(cut);
  }
  EXPECT_EQ(tailA, tailB);
}

// Fixed inputs and a digest of their cuts, as the cutting gave them before
// zeros were stepped over: the cuts are part of the wire protocol.
struct GoldenCase {
  int kind;
  size_t chunks;
  uint64_t digest;
};

Bytes GoldenInput(int kind) {
  constexpr size_t kSize = 3'000'000;
  Bytes bytes(kSize);
  std::mt19937_64 engine(7 + kind);
  for (size_t i = 0; i < kSize; ++i) {
    switch (kind) {
      case 0:
        bytes[i] = static_cast<uint8_t>(engine());
        break;
      case 1:
        bytes[i] = (i / 1000) % 3 == 0 ? 0 : static_cast<uint8_t>(engine());
        break;
      case 2:
        bytes[i] = static_cast<uint8_t>("kelpie compares ranges\n"[i % 23]);
        break;
      case 3:
        bytes[i] = i % 128 < 8 ? static_cast<uint8_t>((i / 128) >> (8 * (i % 8)))
                               : static_cast<uint8_t>(i % 128);
        break;
      default:
        bytes[i] = i % 50'000 < 30'000 ? 0 : static_cast<uint8_t>(engine());
        break;
    }
  }
  return bytes;
}

class ChunkCutsGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(ChunkCutsGolden, MatchTheirDigest) {
  const Bytes data = GoldenInput(GetParam().kind);
  const ChunkCuts cuts = CutChunks(data);
  std::vector<int64_t> flat;
  for (const Cut& cut : CutsOf(cuts)) {
    flat.push_back(cut.end);
    flat.push_back(cut.level);
  }
  EXPECT_EQ(cuts.Count(), GetParam().chunks);
  EXPECT_EQ(RangeHash({reinterpret_cast<const uint8_t*>(flat.data()), flat.size() * 8}),
            GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ChunkCutsGolden,
                         ::testing::Values(GoldenCase{0, 7796, 0x31f4b0eaacc8b304},
                                           GoldenCase{1, 5414, 0xf81b392b84fd0b4a},
                                           GoldenCase{2, 367, 0x1aaa53891bc311d4},
                                           GoldenCase{3, 4355, 0x5367b1f737cd8b27},
                                           GoldenCase{4, 3353, 0xa13a3024a2f83004}));

// Collects the zero runs a cutter reports.
struct RunList final : ZeroRunSink {
  std::vector<std::pair<int64_t, int64_t>> runs;
  void ZeroRun(int64_t start, int64_t end) override { runs.emplace_back(start, end); }
};

// The whole runs of zeros in data of at least `least` bytes.
std::vector<std::pair<int64_t, int64_t>> ZeroRunsOf(const Bytes& data, int64_t least) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  for (int64_t i = 0; i < std::ssize(data);) {
    if (data[i] != 0) {
      ++i;
      continue;
    }
    int64_t end = i;
    while (end < std::ssize(data) && data[end] == 0)
      ++end;
    if (end - i >= least) runs.emplace_back(i, end);
    i = end;
  }
  return runs;
}

// Cuts data with a ChunkCutter that reports its zero runs, and checks the
// cuts against the documented rule and the runs against the data.
void ExpectCutsAndRuns(const Bytes& data, const std::string& what) {
  SCOPED_TRACE(what);
  RunList list;
  ChunkCutter cutter(data, &list);
  std::vector<Cut> cuts;
  int64_t end = 0;
  int level = 0;
  while (cutter.Next(end, level))
    cuts.push_back({end, level});
  ASSERT_EQ(cuts, DocumentedCuts(data));
  EXPECT_EQ(CutsOf(CutChunks(data)), cuts);
  // Every run reported is a whole run of zeros, and no long run is missed.
  const auto whole = ZeroRunsOf(data, 1);
  for (const auto& run : list.runs)
    EXPECT_TRUE(std::binary_search(whole.begin(), whole.end(), run)) << run.first;
  for (const auto& run : ZeroRunsOf(data, 512))
    EXPECT_TRUE(std::find(list.runs.begin(), list.runs.end(), run) != list.runs.end())
        << run.first << " " << run.second;
}

// Runs of zeros of lengths around the hash window, the shortest and longest
// chunk, starting at and just after a cut, in the middle and at the ends of
// the data: cut exactly as byte by byte.
constexpr int64_t kRunLengths[] = {1,    2,    63,   64,   65,   126,  127,  128,   129,
                                   191,  192,  193,  255,  256,  257,  511,  512,   4095,
                                   4096, 8063, 8064, 8191, 8192, 8193, 8320, 16384, 73'001};
constexpr int64_t kAfterCut[] = {0, 1, 62, 63, 64, 65, 127, 128, 129, 8000};

class ChunkCutsOverZeroRuns : public ::testing::TestWithParam<uint64_t> {};

TEST_P(ChunkCutsOverZeroRuns, AreTheBytewiseCutsAfterEveryCut) {
  const uint64_t seed = GetParam();
  const Bytes base = RandomBytes(120'000 + seed * 37, seed);
  const std::vector<Cut> cuts = DocumentedCuts(base);
  // A cut well inside the data, so what lies before the run is unchanged.
  const int64_t cut = cuts[cuts.size() / 4 + seed].end;
  for (const int64_t len : kRunLengths) {
    for (const int64_t after : kAfterCut) {
      Bytes data = base;
      const int64_t from = cut + after;
      const int64_t to = std::min<int64_t>(std::ssize(data), from + len);
      std::fill(data.begin() + from, data.begin() + to, 0);
      ExpectCutsAndRuns(data,
                        "run of " + std::to_string(len) + " at cut + " + std::to_string(after));
    }
  }
}

// Runs at the very start and end of the data, and data of nothing else.
TEST_P(ChunkCutsOverZeroRuns, AreTheBytewiseCutsAtTheEnds) {
  const uint64_t seed = GetParam();
  const Bytes base = RandomBytes(90'000 + seed * 101, seed + 50);
  for (const int64_t len : kRunLengths) {
    Bytes head = base, tail = base;
    const int64_t n = std::min(len, std::ssize(base));
    std::fill(head.begin(), head.begin() + n, 0);
    std::fill(tail.end() - n, tail.end(), 0);
    ExpectCutsAndRuns(head, "leading " + std::to_string(len));
    ExpectCutsAndRuns(tail, "trailing " + std::to_string(len));
    ExpectCutsAndRuns(Bytes(static_cast<size_t>(len + seed), 0),
                      "only zeros " + std::to_string(len + seed));
  }
}

// Many runs of random lengths at random places.
TEST_P(ChunkCutsOverZeroRuns, AreTheBytewiseCutsAtRandomPlaces) {
  std::mt19937_64 engine(GetParam());
  for (int round = 0; round < 12; ++round) {
    Bytes data = RandomBytes(30'000 + engine() % 200'000, engine());
    for (int runs = 1 + engine() % 6; runs > 0; --runs) {
      // Lengths spread evenly over their logarithm, from 1 to about 2^17.
      const auto len = static_cast<int64_t>(std::exp2(static_cast<double>(engine() % 1700) / 100));
      const auto from = static_cast<int64_t>(engine() % data.size());
      std::fill(data.begin() + from, data.begin() + std::min(std::ssize(data), from + len), 0);
    }
    // Now and then a run of another value, which the hash does not skip.
    if (round % 3 == 0) {
      const auto from = static_cast<int64_t>(engine() % data.size());
      std::fill(data.begin() + from, data.begin() + std::min(std::ssize(data), from + 9000), 0xff);
    }
    ExpectCutsAndRuns(data, "round " + std::to_string(round));
  }
}

// The sanitizer build, many times slower, tries half the seeds.
#if defined(KELPIE_SANITIZE)
INSTANTIATE_TEST_SUITE_P(Seeds, ChunkCutsOverZeroRuns, ::testing::Values(1, 2));
#else
INSTANTIATE_TEST_SUITE_P(Seeds, ChunkCutsOverZeroRuns, ::testing::Values(1, 2, 3, 4));
#endif

// Short data: nothing, and up to just past the shortest chunk.
TEST(ContentChunks, ShortDataIsOneChunk) {
  EXPECT_EQ(CutChunks({}).Count(), 0u);
  for (const size_t size : {1, 2, 64, 127, 128, 129}) {
    const Bytes data = RandomBytes(size, 9);
    EXPECT_EQ(CutsOf(CutChunks(data)), DocumentedCuts(data)) << size;
  }
  EXPECT_EQ(CutsOf(CutChunks(RandomBytes(128, 9))), (std::vector<Cut>{{128, 3}}));
}

// The compact list answers what a plain list of ends would, across its
// groups of 64 chunks.
TEST(ChunkCuts, AnswersAsAListOfEndsWould) {
  const Bytes data = Holed(1'500'000);
  const ChunkCuts cuts = CutChunks(data);
  const std::vector<Cut> plain = DocumentedCuts(data);
  ASSERT_EQ(cuts.Count(), plain.size());
  ASSERT_GT(cuts.Count(), 3u * 64);
  for (size_t i = 0; i < plain.size(); ++i) {
    const int64_t start = i == 0 ? 0 : plain[i - 1].end;
    ASSERT_EQ(cuts.Start(i), start) << i;
    ASSERT_EQ(cuts.End(i), plain[i].end) << i;
    ASSERT_EQ(cuts.Length(i), plain[i].end - start) << i;
    ASSERT_EQ(cuts.Level(i), plain[i].level) << i;
  }
  const auto firstEndingAfter = [&](int64_t offset) {
    return static_cast<size_t>(
        std::upper_bound(plain.begin(), plain.end(), offset,
                         [](int64_t at, const Cut& cut) { return at < cut.end; }) -
        plain.begin());
  };
  std::vector<int64_t> offsets = {
      -1, 0, 1, std::ssize(data) - 1, std::ssize(data), std::ssize(data) + 1, INT64_MIN, INT64_MAX};
  for (const Cut& cut : plain) {
    offsets.insert(offsets.end(), {cut.end - 1, cut.end, cut.end + 1});
  }
  for (const int64_t offset : offsets)
    EXPECT_EQ(cuts.FirstEndingAfter(offset), firstEndingAfter(offset)) << offset;
}

// Ranges asked between two cuts of their level, and the parts of every range.
TEST(ChunkCuts, RangesBetweenCutsAndTheirParts) {
  const Bytes data = Random(2'000'000);
  const ChunkCuts cuts = CutChunks(data);
  for (int level = 1; level <= kTopChunkLevel; ++level) {
    const std::vector<ChunkRange> all = RangesOfLevel(cuts, level, 0, std::ssize(data));
    ASSERT_GE(all.size(), 3u);
    // The middle ones alone, asked by their outer cuts.
    const int64_t from = all[1].start, to = all[all.size() - 2].start;
    const std::vector<ChunkRange> middle = RangesOfLevel(cuts, level, from, to);
    ASSERT_EQ(middle.size(), all.size() - 3);
    for (size_t i = 0; i < middle.size(); ++i) {
      EXPECT_EQ(middle[i].start, all[i + 1].start);
      EXPECT_EQ(middle[i].len, all[i + 1].len);
    }
    for (const ChunkRange& range : all) {
      int partLevel = -1;
      const std::vector<ChunkRange> parts = PartsOf(cuts, level, range, partLevel);
      int64_t at = range.start;
      for (const ChunkRange& part : parts) {
        EXPECT_EQ(part.start, at);
        EXPECT_LE(part.len, MaxRangeLength(partLevel));
        at += part.len;
      }
      if (parts.empty()) {
        EXPECT_EQ(RangesOfLevel(cuts, 0, range.start, range.start + range.len).size(), 1u);
      } else {
        EXPECT_GE(parts.size(), 2u);
        EXPECT_LT(partLevel, level);
        EXPECT_EQ(at, range.start + range.len);
      }
    }
  }
  EXPECT_TRUE(RangesOfLevel(cuts, 0, 5, 5).empty());
}

}  // namespace
}  // namespace kelpie
