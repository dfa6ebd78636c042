// The responder's index of content-defined ranges: what it answers, what it
// hashes to answer, and what it costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>

#include "compare/chunk_index.h"
#include "compare/content_chunks.h"
#include "compare/found_shifts.h"
#include "compare/prepared_cuts.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using Bytes = std::vector<uint8_t>;
constexpr int64_t kUnlimited = INT64_MAX;

uint64_t HashOf(const Bytes& data, int64_t start, int64_t len) {
  return RangeHash(std::span(data).subspan(static_cast<size_t>(start), static_cast<size_t>(len)));
}

Bytes Random(size_t size) {
  return RandomBytes(size, 11);
}

Bytes Text(size_t size) {
  const std::string words[] = {"INFO ", "WARN ", "[worker-3] ", "GET /api/v2/orders ", "\n"};
  std::mt19937 engine(2);
  Bytes bytes;
  while (bytes.size() < size) {
    const std::string& w = words[engine() % 5];
    bytes.insert(bytes.end(), w.begin(), w.end());
  }
  bytes.resize(size);
  return bytes;
}

Bytes Zeros(size_t size) {
  return Bytes(size, 0);
}

// Zeros with random islands.
Bytes Sparse(size_t size) {
  Bytes bytes(size, 0);
  std::mt19937 engine(3);
  for (size_t at = 0; at + (64 << 10) < size; at += (256 << 10) + engine() % (256 << 10)) {
    const Bytes island = RandomBytes(1000 + engine() % (60 << 10), engine());
    std::copy(island.begin(), island.end(), bytes.begin() + static_cast<long>(at));
  }
  return bytes;
}

// 128-byte records counting up.
Bytes Periodic(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = i % 128 < 8 ? static_cast<uint8_t>((i / 128) >> (8 * (i % 8))) : uint8_t(i % 128);
  }
  return bytes;
}

// One block of random bytes again and again.
Bytes Repeated(size_t size) {
  const Bytes block = RandomBytes(20'000, 12);
  Bytes bytes;
  while (bytes.size() < size)
    bytes.insert(bytes.end(), block.begin(), block.end());
  bytes.resize(size);
  return bytes;
}

struct Content {
  const char* name;
  Bytes (*make)(size_t);
};

class ChunkIndexOfEveryContent : public ::testing::TestWithParam<Content> {
 protected:
  const Bytes data_ = GetParam().make(4'000'000);
  const ChunkIndex index_{data_};
  const ChunkCuts cuts_ = CutChunks(data_);
};

// Every range of every level is found at its own offset, and from anywhere
// else at an offset that holds its bytes.
TEST_P(ChunkIndexOfEveryContent, FindsEveryRangeOwnOffsetFirst) {
  for (int level = 0; level <= kTopChunkLevel; ++level) {
    const std::vector<ChunkRange> ranges = RangesOfLevel(cuts_, level, 0, std::ssize(data_));
    for (size_t i = 0; i < ranges.size(); i += 1 + ranges.size() / 300) {
      const ChunkRange& r = ranges[i];
      const uint64_t hash = HashOf(data_, r.start, r.len);
      int64_t budget = kUnlimited;
      ASSERT_EQ(index_.Find({r.start, r.len, hash}, budget), r.start) << level << " " << r.start;
      for (const int64_t from : {int64_t{-1}, r.start + 1, std::ssize(data_) - r.len + 1}) {
        const int64_t found = index_.Find({from, r.len, hash}, budget);
        ASSERT_GE(found, 0) << level << " " << r.start << " from " << from;
        EXPECT_EQ(HashOf(data_, found, r.len), hash);
      }
    }
  }
}

// An index built from the cuts made when the file was offered, or made
// then itself, answers as one that cut the data at once, and hashes as
// much: it knows the same runs of zeros.
TEST_P(ChunkIndexOfEveryContent, IndexFromPreparedCutsAnswersTheSame) {
  const test::TempDir dir;
  const std::string path = dir.Write("data.bin", data_);
  const auto memory = std::make_shared<IndexMemory>(int64_t{1} << 30);
  for (const bool indexed : {false, true}) {
    const std::shared_ptr<const PreparedCuts> prepared =
        PrepareCuts(path, std::ssize(data_), nullptr, indexed ? memory->Take(1 << 20) : nullptr);
    ASSERT_TRUE(prepared);
    ASSERT_EQ(prepared->index != nullptr, indexed);
    const ChunkIndex replayed(data_, nullptr, prepared.get());
    const ChunkIndex fresh(data_);  // no zeros hashed yet by earlier looks
    ASSERT_EQ(replayed.RangeCount(), fresh.RangeCount());
    for (int level = 0; level <= kTopChunkLevel; ++level) {
      const std::vector<ChunkRange> ranges = RangesOfLevel(cuts_, level, 0, std::ssize(data_));
      for (size_t i = 0; i < ranges.size(); i += 1 + ranges.size() / 200) {
        const ChunkRange& r = ranges[i];
        const uint64_t hash = HashOf(data_, r.start, r.len);
        for (const int64_t from : {r.start, r.start + 1, r.start + 4096}) {
          int64_t cut = 1 << 20, replay = 1 << 20;
          ASSERT_EQ(replayed.Find({from, r.len, hash}, replay),
                    fresh.Find({from, r.len, hash}, cut))
              << indexed << " " << level << " " << from;
          ASSERT_EQ(replay, cut) << indexed << " " << level << " " << from;
        }
      }
    }
  }
}

// Shares of the memory for indexes are refused past what is left, give back
// what they are shrunk by, and the rest when the last holder of one lets it
// go. An index made at offer time keeps the share of its own size.
TEST(IndexMemory, SharesComeBackWhenShrunkOrLetGo) {
  const auto memory = std::make_shared<IndexMemory>(150);
  std::shared_ptr<IndexMemory::Share> first = memory->Take(100);
  ASSERT_TRUE(first);
  EXPECT_FALSE(memory->Take(51));
  first->ShrinkTo(40);
  EXPECT_FALSE(memory->Take(111));
  EXPECT_TRUE(memory->Take(110));
  std::shared_ptr<IndexMemory::Share> copy = first;
  first.reset();
  EXPECT_FALSE(memory->Take(150));
  copy.reset();
  EXPECT_TRUE(memory->Take(150));

  const test::TempDir dir;
  const Bytes data = Random(1 << 20);
  const auto offered = std::make_shared<IndexMemory>(1 << 20);
  const std::shared_ptr<const PreparedCuts> prepared =
      PrepareCuts(dir.Write("data.bin", data), std::ssize(data), nullptr, offered->Take(1 << 20));
  ASSERT_TRUE(prepared && prepared->index);
  const auto held = static_cast<int64_t>(ChunkIndex(data, nullptr, prepared.get()).MemoryBytes());
  EXPECT_TRUE(offered->Take((1 << 20) - held));
  EXPECT_FALSE(offered->Take((1 << 20) - held + 1));
}

// Whatever is asked, an answer holds the bytes asked for; a fingerprint
// the data does not hold is found nowhere.
TEST_P(ChunkIndexOfEveryContent, AnswersOnlyOffsetsHoldingTheBytes) {
  std::mt19937_64 engine(5);
  const auto size = std::ssize(data_);
  for (int round = 0; round < 400; ++round) {
    const int64_t len = 1 + static_cast<int64_t>(engine() % 70'000);
    const int64_t at = static_cast<int64_t>(engine() % static_cast<uint64_t>(size - len));
    const uint64_t hash = HashOf(data_, at, len);
    const int64_t from = static_cast<int64_t>(engine() % static_cast<uint64_t>(size)) - 1000;
    int64_t budget = kUnlimited;
    const int64_t found = index_.Find({from, len, hash}, budget);
    if (found >= 0) {
      EXPECT_EQ(HashOf(data_, found, len), hash);
    }
    // Held at its own offset, it is found there.
    EXPECT_EQ(index_.Find({at, len, hash}, budget), at);
    EXPECT_EQ(index_.Find({at, len, hash ^ 1}, budget), -1);
    EXPECT_EQ(index_.Find({from, len, hash ^ (uint64_t{1} << 63)}, budget), -1);
  }
}

// The index holds at most 1/16 of its data, counting everything.
TEST_P(ChunkIndexOfEveryContent, CostsAtMostASixteenthOfTheData) {
  EXPECT_LE(index_.MemoryBytes(), data_.size() / 16) << GetParam().name;
  EXPECT_GT(index_.RangeCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Contents, ChunkIndexOfEveryContent,
                         ::testing::Values(Content{"Random", &Random}, Content{"Text", &Text},
                                           Content{"Zeros", &Zeros}, Content{"Sparse", &Sparse},
                                           Content{"Periodic", &Periodic},
                                           Content{"Repeated", &Repeated}),
                         [](const auto& info) { return std::string(info.param.name); });

// Data of every size, from a few chunks (one bucket) to many: every small
// chunk and every top-level range is found where it is and from elsewhere.
class ChunkIndexOfEverySize : public ::testing::TestWithParam<size_t> {};

TEST_P(ChunkIndexOfEverySize, FindsEveryChunk) {
  const Bytes data = RandomBytes(GetParam(), 15);
  const ChunkIndex index(data);
  const ChunkCuts cuts = CutChunks(data);
  for (const int level : {0, kTopChunkLevel}) {
    for (const ChunkRange& r : RangesOfLevel(cuts, level, 0, std::ssize(data))) {
      const uint64_t hash = HashOf(data, r.start, r.len);
      int64_t budget = kUnlimited;
      ASSERT_EQ(index.Find({r.start, r.len, hash}, budget), r.start) << r.start;
      ASSERT_EQ(index.Find({-1, r.len, hash}, budget), r.start) << r.start;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChunkIndexOfEverySize,
                         ::testing::Values(1, 128, 129, 700, 5000, 12'000, 50'000, 333'333,
                                           2'500'000));

// On varied data the index costs about 1/48 of it: two bytes a small chunk,
// five a range.
TEST(ChunkIndex, VariedDataCostsAboutAFortyEighth) {
  const Bytes data = Random(8'000'000);
  const ChunkIndex index(data);
  EXPECT_LE(index.MemoryBytes(), data.size() / 44);
  const ChunkCuts cuts = CutChunks(data);
  // What it holds is counted.
  EXPECT_GE(index.MemoryBytes(), index.RangeCount() * 5 + cuts.Count() * 2);
  size_t ranges = 0;
  for (int level = 0; level <= kTopChunkLevel; ++level)
    ranges += RangesOfLevel(cuts, level, 0, std::ssize(data)).size();
  // Ranges equal to the one below are indexed once.
  EXPECT_LE(index.RangeCount(), ranges);
  EXPECT_GE(index.RangeCount(), cuts.Count() + cuts.Count() / 10);
}

TEST(ChunkIndex, FindsOwnOffsetFirstThenElsewhereElseNothing) {
  Bytes peer = Zeros(1'000'000);
  const Bytes island = RandomBytes(200'000, 6);
  std::copy(island.begin(), island.end(), peer.begin() + 500'000);
  const ChunkIndex index(peer);
  int64_t budget = kUnlimited;
  // Zeros are held at many places; their own offset wins.
  const Bytes zeros(8192, 0);
  EXPECT_EQ(index.Find({123'456, 8192, RangeHash(zeros)}, budget), 123'456);
  // A range of the island, asked about from where it is not.
  const ChunkCuts cuts = CutChunks(peer);
  const size_t cut = cuts.FirstEndingAfter(520'000);
  const int64_t start = cuts.End(cut), len = cuts.Length(cut + 1);
  const uint64_t hash = HashOf(peer, start, len);
  EXPECT_EQ(index.Find({40, len, hash}, budget), start);
  EXPECT_EQ(index.Find({40, len, hash + 1}, budget), -1);
  EXPECT_EQ(index.Find({40, 0, hash}, budget), -1);
  // Without budget the island is not hashed, so not answered; zeros known
  // to be zeros still are: at their own offset where the data is zero, else
  // where a range of zeros is.
  int64_t none = 0;
  EXPECT_EQ(index.Find({40, len, hash}, none), -1);
  EXPECT_EQ(index.Find({754'321, 8192, RangeHash(zeros)}, none), 754'321);
  const int64_t inIsland = index.Find({654'321, 8192, RangeHash(zeros)}, none);
  EXPECT_TRUE(inIsland + 8192 <= 500'000 || inIsland >= 700'000) << inIsland;
  EXPECT_EQ(none, 0);
}

// A range the index does not hold (no cut range: a run of parts) is found
// only where the shift it is given says, and only when the bytes there are
// the same.
TEST(ChunkIndex, RangeItDoesNotHoldIsFoundAtTheShiftGiven) {
  const Bytes local = Random(1'000'000);
  Bytes peer = RandomBytes(100, 12);
  peer.insert(peer.end(), local.begin(), local.end());
  const ChunkIndex index(peer);
  const int64_t start = 300'001, len = 200'003;
  const uint64_t hash = HashOf(local, start, len);
  struct Case {
    std::array<int64_t, 2> shifts;
    int64_t expected;
  };
  const Case cases[] = {{{0, 0}, -1},
                        {{100, 0}, start + 100},
                        {{7, -100}, -1},
                        {{-100, 7}, -1},
                        {{7, 100}, start + 100}};
  for (const auto& [shifts, expected] : cases) {
    int64_t budget = kUnlimited;
    EXPECT_EQ(index.Find({start, len, hash}, budget, shifts), expected) << shifts[0];
  }
}

// The shifts on either side of an offset: an edit between two found ranges
// changes the shift, and the same shift recorded again changes nothing.
TEST(FoundShifts, TellsTheShiftsBeforeAndAfterAnOffset) {
  FoundShifts shifts;
  const std::pair<int64_t, int64_t> records[] = {{0, 0},      {1000, 100}, {2000, 100},
                                                 {5000, -50}, {3000, 100}, {5000, 30}};
  for (const auto& [start, shift] : records)
    shifts.Record(start, shift);
  const std::pair<int64_t, std::array<int64_t, 3>> cases[] = {
      {500, {30, 0, 100}}, {1000, {30, 100, 30}}, {4999, {30, 100, 30}}, {9000, {30, 30, 30}}};
  for (const auto& [at, expected] : cases)
    EXPECT_EQ(shifts.Around(at), expected) << at;
}

// A long range's fingerprint is kept from the build: found again without
// hashing it.
TEST(ChunkIndex, LongRangeFoundWithoutHashingItAgain) {
  const Bytes data = Random(2'000'000);
  const ChunkIndex index(data);
  const std::vector<ChunkRange> tops = RangesOfLevel(CutChunks(data), kTopChunkLevel, 0, 2'000'000);
  const auto longest =
      std::max_element(tops.begin(), tops.end(), [](auto& a, auto& b) { return a.len < b.len; });
  ASSERT_GE(longest->len, 32 << 10);
  int64_t none = 0;
  const uint64_t hash = HashOf(data, longest->start, longest->len);
  EXPECT_EQ(index.Find({longest->start + 7, longest->len, hash}, none), longest->start);
  EXPECT_EQ(index.Find({longest->start + 7, longest->len, hash ^ 1}, none), -1);
  EXPECT_EQ(none, 0);
}

// What a check may hash: an offset the table names, then the own offset
// (compared with it when it holds the bytes); with too little budget for a
// hash, no answer rests on it.
struct BudgetCase {
  const char* what;
  int64_t from;          // where the check says the range is; kElsewhere: not there
  bool sameHash;         // else the check's fingerprint is one bit off
  int64_t budgetInLens;  // budget in lengths of the range; -1: one byte short of one
  int64_t expected;      // kAtRange: the range's offset; else the answer
  int64_t spentInLens;   // bytes hashed, in lengths,
  int64_t spentBytes;    // and bytes on top
};
constexpr int64_t kAtRange = -100;
constexpr int64_t kElsewhere = -200;

class ChunkIndexHashBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(ChunkIndexHashBudget, NoAnswerWithoutItsHash) {
  const BudgetCase& c = GetParam();
  const Bytes data = Random(500'000);
  const ChunkIndex index(data);
  const ChunkCuts cuts = CutChunks(data);
  const int64_t start = cuts.Start(100), len = cuts.Length(100);
  ASSERT_GT(len, 64);
  const int64_t from = c.from == kAtRange ? start : c.from == kElsewhere ? start + 7 : c.from;
  const int64_t given = c.budgetInLens < 0 ? len - 1 : c.budgetInLens * len;
  int64_t budget = given;
  const uint64_t hash = HashOf(data, start, len) ^ (c.sameHash ? 0 : 1);
  EXPECT_EQ(index.Find({from, len, hash}, budget), c.expected == kAtRange ? start : c.expected);
  EXPECT_EQ(given - budget, c.spentInLens * len + c.spentBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkIndexHashBudget,
    ::testing::Values(BudgetCase{"OwnOffsetOneHash", kAtRange, true, 1, kAtRange, 1, 0},
                      BudgetCase{"OwnOffsetNoBudget", kAtRange, true, 0, -1, 0, 0},
                      BudgetCase{"OwnOffsetOneByteShort", kAtRange, true, -1, -1, 0, 0},
                      // The own offset differs in its first bytes: 64 compared.
                      BudgetCase{"ElsewhereHashThenCompare", kElsewhere, true, 2, kAtRange, 1, 64},
                      BudgetCase{"ElsewhereNoBudgetToCompare", kElsewhere, true, 1, kAtRange, 1, 0},
                      BudgetCase{"ElsewhereNoBudget", kElsewhere, true, 0, -1, 0, 0},
                      BudgetCase{"OwnOffsetOutsideOneHash", -5, true, 1, kAtRange, 1, 0},
                      BudgetCase{"OwnOffsetPastTheEnd", 499'999, true, 1, kAtRange, 1, 0},
                      // The table names the range; its hash differs, then so does the own
                      // offset's.
                      BudgetCase{"MissingBothHashed", kElsewhere, false, 2, -1, 2, 0},
                      BudgetCase{"MissingOnlyTheTableHashed", kElsewhere, false, 1, -1, 1, 0},
                      BudgetCase{"MissingAtOwnOffset", kAtRange, false, 2, -1, 1, 0}),
    [](const auto& info) { return std::string(info.param.what); });

// Repeated bytes are indexed where they come first; asked where they come
// again, the own offset is answered after comparing the bytes, not hashing.
TEST(ChunkIndex, RepeatsAnsweredAtTheirOwnOffset) {
  const Bytes block = RandomBytes(30'000, 14);
  Bytes data;
  for (int i = 0; i < 3; ++i)
    data.insert(data.end(), block.begin(), block.end());
  const ChunkIndex index(data);
  const ChunkCuts cuts = CutChunks(data);
  // A chunk of the second copy that the first copy holds too.
  const size_t chunk = cuts.FirstEndingAfter(40'000);
  const int64_t start = cuts.Start(chunk), len = cuts.Length(chunk);
  int64_t budget = kUnlimited;
  EXPECT_EQ(index.Find({start, len, HashOf(data, start, len)}, budget), start);
  EXPECT_EQ(kUnlimited - budget, 2 * len);
  // From where it is not, the copy nearest to there rather than the first.
  EXPECT_EQ(index.Find({start + 1, len, HashOf(data, start, len)}, budget), start);
  EXPECT_EQ(index.Find({start + 29'000, len, HashOf(data, start, len)}, budget), start + 30'000);
}

// A short pattern shifted by an insertion of another length: the copy the
// peer's file has near the range's own offset starts at no chunk, and is
// still the one answered, not the pattern's first place far away.
TEST(ChunkIndex, PatternShiftedOffItsChunksAnsweredNearItsOwnOffset) {
  const Bytes pattern = RandomBytes(64, 15);
  Bytes local;
  while (local.size() < 600'000)
    local.insert(local.end(), pattern.begin(), pattern.end());
  Bytes peer = local;
  const Bytes inserted = RandomBytes(100, 16);
  peer.insert(peer.begin() + 400'000, inserted.begin(), inserted.end());
  const ChunkIndex index(peer);
  const int64_t start = 499'968, len = 8192;
  const uint64_t hash = HashOf(local, start, len);
  int64_t nearest = -1;
  for (int64_t at = start - (16 << 10); at <= start + (16 << 10); ++at) {
    const bool same = std::equal(peer.begin() + at, peer.begin() + at + len, local.begin() + start);
    if (same && (nearest < 0 || std::abs(at - start) < std::abs(nearest - start))) nearest = at;
  }
  ASSERT_GE(nearest, 0);
  int64_t budget = kUnlimited;
  EXPECT_EQ(index.Find({start, len, hash}, budget), nearest);
}

// A fingerprint that differs only in bits the table does not keep names an
// indexed range; its bytes are hashed and found different.
TEST(ChunkIndex, VerifiesWhatTheTableNames) {
  const Bytes data = Random(50'000);
  const ChunkIndex index(data);
  const ChunkCuts cuts = CutChunks(data);
  for (size_t i = 0; i < cuts.Count(); ++i) {
    const int64_t start = cuts.Start(i), len = cuts.Length(i);
    const uint64_t hash = HashOf(data, start, len);
    for (const uint64_t flip : {uint64_t{1}, uint64_t{1} << 20}) {
      int64_t budget = kUnlimited;
      EXPECT_EQ(index.Find({-1, len, hash ^ flip}, budget), -1);
      // The candidate was hashed: the low bits are no part of its tag.
      EXPECT_GE(kUnlimited - budget, len) << i;
    }
  }
}

// A range of zeros is known without hashing the data: at its own offset when
// the data is zero there, else where an indexed range of zeros is.
TEST(ChunkIndex, ZerosWithoutHashingTheData) {
  Bytes data = RandomBytes(3'000'000, 13);
  std::fill(data.begin() + 1'000'000, data.begin() + 2'000'000, 0);
  const ChunkIndex index(data);
  const ChunkCuts cuts = CutChunks(data);
  const uint64_t zeros8k = RangeHash(Bytes(8192, 0));
  int64_t none = 0;
  // The longest chunks of the run are indexed, so their hash is known.
  EXPECT_EQ(index.Find({1'000'000, 8192, zeros8k}, none), 1'000'000);
  EXPECT_EQ(index.Find({2'000'000 - 8192, 8192, zeros8k}, none), 2'000'000 - 8192);
  EXPECT_EQ(index.Find({1'500'001, 8192, zeros8k}, none), 1'500'001);
  EXPECT_EQ(index.Find({1'500'001, 8192, zeros8k ^ 1}, none), -1);
  EXPECT_EQ(none, 0);
  // Where the data is not zero, a zero range of the run is named, unhashed.
  const int64_t elsewhere = index.Find({100, 8192, zeros8k}, none);
  EXPECT_GE(elsewhere, 1'000'000);
  EXPECT_LE(elsewhere, 2'000'000 - 8192);
  // Touching a nonzero byte, the own offset would have to be hashed; the
  // run is named instead.
  ASSERT_NE(data[2'000'000], 0);
  const int64_t past = index.Find({2'000'000 - 8191, 8192, zeros8k}, none);
  EXPECT_GE(past, 1'000'000);
  EXPECT_LE(past, 2'000'000 - 8192);
  // A length whose zero hash is new costs one hash of zeros, then nothing.
  const uint64_t zeros5k = RangeHash(Bytes(5000, 0));
  int64_t budget = 5000;
  EXPECT_EQ(index.Find({1'200'000, 5000, zeros5k}, budget), 1'200'000);
  EXPECT_EQ(budget, 0);
  EXPECT_EQ(index.Find({1'300'000, 5000, zeros5k}, budget), 1'300'000);
  // Every range of the run is found at its own offset.
  for (const ChunkRange& r :
       RangesOfLevel(cuts, 1, 1'100'000, cuts.End(cuts.FirstEndingAfter(1'900'000)))) {
    int64_t unlimited = kUnlimited;
    EXPECT_EQ(index.Find({r.start, r.len, HashOf(data, r.start, r.len)}, unlimited), r.start);
  }
}

// Checks that reach past the data, or are longer than it, are answered
// from what the data holds and read nothing outside it.
TEST(ChunkIndex, ChecksOutsideTheData) {
  const Bytes data = Random(100'000);
  const ChunkIndex index(data);
  const ChunkCuts cuts = CutChunks(data);
  const int64_t start = cuts.Start(3), len = cuts.Length(3);
  const uint64_t hash = HashOf(data, start, len);
  for (const int64_t from : {INT64_MIN, int64_t{-1}, int64_t{100'000} - len + 1, int64_t{100'000},
                             INT64_MAX - len, INT64_MAX}) {
    int64_t budget = kUnlimited;
    EXPECT_EQ(index.Find({from, len, hash}, budget), start) << from;
  }
  for (const int64_t longer : {int64_t{100'001}, INT64_MAX}) {
    int64_t budget = kUnlimited;
    EXPECT_EQ(index.Find({0, longer, hash}, budget), -1);
    EXPECT_EQ(budget, kUnlimited);
  }
  int64_t budget = kUnlimited;
  EXPECT_EQ(index.Find({0, -5, hash}, budget), -1);
  const ChunkIndex empty({});
  EXPECT_EQ(empty.Find({0, 1, hash}, budget), -1);
  EXPECT_EQ(empty.RangeCount(), 0u);
}

}  // namespace
}  // namespace kelpie
