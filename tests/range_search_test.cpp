#include "compare/range_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "compare/fingerprint.h"
#include "compare/four_byte_scan.h"
#include "compare/range_index.h"
#include "compare/search_budget.h"
#include "compare/window_sieve.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(std::string_view text) {
  return {text.begin(), text.end()};
}

std::string Md5Of(const Bytes& data, int64_t start, int64_t len) {
  return RangeFingerprint(
      std::span<const uint8_t>(data).subspan(static_cast<size_t>(start), static_cast<size_t>(len)));
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// --- Fixed cases: boundaries of the own-offset test and of StartLong. ---

struct FixedCase {
  const char* name;
  Bytes data;
  int32_t start;
  int32_t len;
  int32_t startLong;
  std::string md5;
  int32_t expected;
};

class RangeSearchFixed : public ::testing::TestWithParam<FixedCase> {};

TEST_P(RangeSearchFixed, AnswersLikeTheScan) {
  const FixedCase& c = GetParam();
  RangeSearch search(c.data);
  EXPECT_EQ(NaiveFindRange(c.data, c.start, c.len, c.startLong, c.md5), c.expected);
  EXPECT_EQ(search.Find(c.start, c.len, c.startLong, c.md5), c.expected);
}

const std::string kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

INSTANTIATE_TEST_SUITE_P(
    Boundaries, RangeSearchFixed,
    ::testing::Values(
        FixedCase{"EmptyDataEmptyRange", {}, 0, 0, 0, kEmptyMd5, 0},
        FixedCase{"EmptyRangeBeyondEndFoundAtZero", Text("abc"), 7, 0, 'a' | 'b' << 8 | 'c' << 16,
                  kEmptyMd5, 0},
        FixedCase{"EmptyRangeAtEndOwnOffset", Text("abc"), 3, 0, 0, kEmptyMd5, 3},
        FixedCase{"OwnOffsetWins", Text("abcabcabc"), 3, 3, 'a' | 'b' << 8 | 'c' << 16 | 'a' << 24,
                  Md5Of(Text("abc"), 0, 3), 3},
        FixedCase{"LowestOffsetElsewhere", Text("abcabc"), 1, 3,
                  'a' | 'b' << 8 | 'c' << 16 | 'a' << 24, Md5Of(Text("abc"), 0, 3), 0},
        FixedCase{"LastRangePaddedWithZeros", Text("bxyzb"), 2, 1, 'b', Md5Of(Text("b"), 0, 1), 4},
        FixedCase{"PaddedStartLongMatchesRealZeros", Text(std::string("b\0\0\0b", 5)), 2, 1, 'b',
                  Md5Of(Text("b"), 0, 1), 0},
        FixedCase{"ShortRangeWrongStartLong", Text("abcab"), 1, 2, 'a' | 'b' << 8,
                  Md5Of(Text("ab"), 0, 2), 3},
        FixedCase{"StartPlusLengthWouldOverflow", Text("abcdefgh"), INT32_MAX, 5,
                  'd' | 'e' << 8 | 'f' << 16 | 'g' << 24, Md5Of(Text("defgh"), 0, 5), 3},
        FixedCase{"NegativeStart", Text("abcdefgh"), -3, 5, 'd' | 'e' << 8 | 'f' << 16 | 'g' << 24,
                  Md5Of(Text("defgh"), 0, 5), 3},
        FixedCase{"LongerThanData", Text("abcd"), 0, 5, 'a' | 'b' << 8 | 'c' << 16 | 'd' << 24,
                  Md5Of(Text("abcd"), 0, 4), -1},
        FixedCase{"NegativeLength", Text("abcd"), 0, -1, 'a' | 'b' << 8 | 'c' << 16 | 'd' << 24,
                  kEmptyMd5, -1},
        FixedCase{"UppercaseDigestNeverMatches", Text("abcdefgh"), 0, 8,
                  'a' | 'b' << 8 | 'c' << 16 | 'd' << 24, Upper(Md5Of(Text("abcdefgh"), 0, 8)), -1},
        FixedCase{"ShortDigestNeverMatches", Text("abcdefgh"), 0, 8,
                  'a' | 'b' << 8 | 'c' << 16 | 'd' << 24, Md5Of(Text("abcdefgh"), 0, 8).substr(1),
                  -1}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Randomised: RangeSearch against the reference scan. ---

struct Query {
  int32_t start;
  int32_t len;
  int32_t startLong;
  std::string md5;
};

class QueryMaker {
 public:
  QueryMaker(const Bytes& data, uint32_t seed) : data_(data), rng_(seed) {}

  Query Next() {
    const auto size = static_cast<int32_t>(data_.size());
    switch (Pick(8)) {
      case 0:
        return Present(Pick(2) == 0);
      case 1:
        return Altered();
      case 2: {  // The last few bytes, StartLong padded with zeros.
        const int32_t len = std::min(Pick(4), size);
        return FromData(size - len, len, Pick(2) == 0 ? size - len : Pick(size + 1));
      }
      case 3:
        return {Pick(size + 2) - 1, size + 1 + Pick(3), Pick(INT32_MAX), kEmptyMd5};
      case 4: {
        Query q = Present(false);
        q.md5 = Pick(2) == 0 ? Upper(q.md5) : q.md5.substr(0, 31) + "g";
        return q;
      }
      case 5: {
        Query q = Present(false);
        q.start = Pick(2) == 0 ? -1 - Pick(1000) : INT32_MAX - Pick(10);
        return q;
      }
      case 6: {
        const int32_t at = Pick(size + 1);
        return {Pick(size + 3) - 1, 0, StartLong(data_, at), kEmptyMd5};
      }
      default: {  // A range from elsewhere with a StartLong the data holds.
        const Bytes other = test::RandomBytes(64, static_cast<uint32_t>(rng_()));
        const int32_t len = Length(64);
        return {Pick(size + 1), len, StartLong(data_, Pick(size + 1)), Md5Of(other, 0, len)};
      }
    }
  }

 private:
  int32_t Pick(int32_t bound) {
    return static_cast<int32_t>(rng_() % static_cast<uint32_t>(std::max(bound, 1)));
  }

  int32_t Length(int32_t limit) {
    static constexpr int32_t kLengths[] = {0,  1,  2,  3,  4,  5,  6,  7,   8,   9,   15,  16,
                                           17, 31, 32, 33, 63, 64, 65, 100, 255, 256, 512, 700};
    const int32_t len = kLengths[Pick(static_cast<int32_t>(std::size(kLengths)))];
    return std::min(len, limit);
  }

  Query FromData(int32_t at, int32_t len, int32_t start) {
    return {start, len, StartLong(data_, at), Md5Of(data_, at, len)};
  }

  Query Present(bool ownOffset) {
    const auto size = static_cast<int32_t>(data_.size());
    const int32_t len = Length(size);
    const int32_t at = Pick(size - len + 1);
    return FromData(at, len, ownOffset ? at : Pick(size + 1));
  }

  // Same length and StartLong as a range of the data, one later byte changed.
  Query Altered() {
    Query q = Present(false);
    if (q.len <= 4) return q;
    const int32_t at = Pick(static_cast<int32_t>(data_.size()) - q.len + 1);
    Bytes window(data_.begin() + at, data_.begin() + at + q.len);
    window[static_cast<size_t>(4 + Pick(q.len - 4))] ^= static_cast<uint8_t>(1 + Pick(255));
    return {q.start, q.len, StartLong(window, 0), Md5Of(window, 0, q.len)};
  }

  const Bytes& data_;
  std::mt19937 rng_;
};

struct DataCase {
  const char* name;
  std::function<Bytes(std::mt19937&)> make;
};

Bytes Periodic(size_t size, const Bytes& pattern) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i)
    data[i] = pattern[i % pattern.size()];
  return data;
}

Bytes RandomPattern(std::mt19937& rng, size_t period, int alphabet) {
  Bytes pattern(period);
  for (auto& b : pattern)
    b = static_cast<uint8_t>(rng() % static_cast<uint32_t>(alphabet));
  return pattern;
}

std::vector<DataCase> DataCases() {
  std::vector<DataCase> cases = {
      {"Empty", [](std::mt19937&) { return Bytes{}; }},
      {"OneByte", [](std::mt19937&) { return Bytes{7}; }},
      {"ThreeBytes",
       [](std::mt19937&) {
         return Bytes{0, 0, 1};
       }},
      {"FourZeros", [](std::mt19937&) { return Bytes(4, 0); }},
      {"FiveBytes",
       [](std::mt19937&) {
         return Bytes{1, 2, 1, 2, 1};
       }},
      {"Zeros", [](std::mt19937&) { return Bytes(3000, 0); }},
      {"RandomWithPlantedCopies",
       [](std::mt19937& rng) {
         Bytes data = test::RandomBytes(4000, static_cast<uint32_t>(rng()));
         for (size_t at : {100u, 1500u, 2222u, 3700u}) {
           std::copy_n(data.begin() + 3000, 250, data.begin() + static_cast<int64_t>(at));
         }
         return data;
       }},
      {"ZerosWithRareBytes",
       [](std::mt19937& rng) {
         Bytes data(3000, 0);
         for (int k = 0; k < 8; ++k)
           data[rng() % data.size()] = static_cast<uint8_t>(1 + rng() % 3);
         return data;
       }},
      {"ZeroRunsBetweenRandom",
       [](std::mt19937& rng) {
         Bytes data;
         while (data.size() < 4000) {
           data.insert(data.end(), rng() % 700, 0);
           const Bytes noise = test::RandomBytes(rng() % 40, static_cast<uint32_t>(rng()));
           data.insert(data.end(), noise.begin(), noise.end());
         }
         return data;
       }},
      {"LongPeriodWithRunInside",
       [](std::mt19937& rng) {
         Bytes pattern(60, 'a');
         const Bytes noise = test::RandomBytes(40, static_cast<uint32_t>(rng()));
         pattern.insert(pattern.end(), noise.begin(), noise.end());
         Bytes data = Periodic(3500, pattern);
         data[2900] ^= 1;
         return data;
       }},
      {"TwoSymbolNoise", [](std::mt19937& rng) { return RandomPattern(rng, 3000, 2); }},
  };
  for (size_t period = 1; period <= 7; ++period) {
    cases.push_back({"Period", [period](std::mt19937& rng) {
                       Bytes data = Periodic(2500, RandomPattern(rng, period, 3));
                       if (rng() % 2 == 0) data[1000 + rng() % 1000] ^= 0x80;
                       return data;
                     }});
  }
  return cases;
}

struct Session {
  const char* name;
  RangeSearchOptions options;
};

std::vector<Session> Sessions() {
  RangeSearchOptions scanOnly;
  scanOnly.indexMaxSize = -1;
  scanOnly.cachedAnswers = 0;
  RangeSearchOptions indexAtOnce;
  indexAtOnce.indexMinSize = 0;
  indexAtOnce.scansBeforeIndex = 0;
  RangeSearchOptions indexLater;
  indexLater.indexMinSize = 0;
  indexLater.scansBeforeIndex = 3;
  indexLater.cachedAnswers = 4;
  return {{"Defaults", RangeSearchOptions{}},
          {"ScanOnlyNoCache", scanOnly},
          {"IndexAtOnce", indexAtOnce},
          {"IndexAfterThreeScansSmallCache", indexLater}};
}

class RangeSearchRandom : public ::testing::TestWithParam<size_t> {};

TEST_P(RangeSearchRandom, ManyCallsAgreeWithTheScan) {
  const size_t caseIndex = GetParam();
  const DataCase dataCase = DataCases()[caseIndex];
  std::mt19937 rng(static_cast<uint32_t>(1234 + caseIndex));
  const Bytes data = dataCase.make(rng);
  QueryMaker maker(data, static_cast<uint32_t>(99 + caseIndex));
  std::vector<Query> queries;
  for (int k = 0; k < 160; ++k)
    queries.push_back(maker.Next());
  // Ask some questions twice so remembered answers are checked too.
  for (int k = 0; k < 40; ++k)
    queries.push_back(queries[rng() % queries.size()]);
  std::vector<int32_t> expected;
  for (const Query& q : queries) {
    expected.push_back(NaiveFindRange(data, q.start, q.len, q.startLong, q.md5));
  }
  for (const Session& session : Sessions()) {
    RangeSearch search(data, session.options);
    for (size_t k = 0; k < queries.size(); ++k) {
      const Query& q = queries[k];
      ASSERT_EQ(search.Find(q.start, q.len, q.startLong, q.md5), expected[k])
          << dataCase.name << " size " << data.size() << " session " << session.name << " query "
          << k << ": start " << q.start << " len " << q.len << " startLong " << q.startLong
          << " md5 " << q.md5;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Data, RangeSearchRandom, ::testing::Range<size_t>(0, DataCases().size()),
                         [](const auto& info) {
                           return std::string(DataCases()[info.param].name) +
                                  std::to_string(info.param);
                         });

TEST(RangeSearchIndex, BuiltOnlyAfterEnoughScans) {
  const Bytes data(5000, 0);
  RangeSearchOptions options;
  options.indexMinSize = 0;
  options.scansBeforeIndex = 2;
  RangeSearch search(data, options);
  const Bytes absent = test::RandomBytes(100, 5);
  for (int k = 0; k < 3; ++k) {
    EXPECT_FALSE(search.indexed());
    // Each absent range (its own MD5, so no remembered answer) scans the whole buffer.
    EXPECT_EQ(search.Find(0, 100 + k, 0, Md5Of(absent, 0, 90 + k)), -1);
  }
  EXPECT_TRUE(search.indexed());
  EXPECT_EQ(search.Find(7, 100, 0, Md5Of(data, 0, 100)), 7);
  EXPECT_EQ(search.Find(-1, 100, 0, Md5Of(data, 0, 100)), 0);
}

// Runs short enough that the index walks their bucket instead of scanning,
// with windows starting before, inside and after each run.
TEST(RangeSearchIndex, WalksBucketsAcrossRuns) {
  Bytes data = test::RandomBytes(30000, 11);
  for (size_t run : {1000u, 5000u, 9000u})
    std::fill_n(data.begin() + run, 200, 0);
  std::copy_n(data.begin() + 1190, 64, data.begin() + 20000);
  RangeSearchOptions options;
  options.indexMinSize = 0;
  options.scansBeforeIndex = 0;
  RangeSearch search(data, options);
  for (int64_t at : {995, 1000, 1100, 1136, 1137, 1150, 1190, 1196, 1199, 5190, 8999, 9137}) {
    for (int32_t len : {5, 64, 199, 200, 201}) {
      const Query q{-1, len, StartLong(data, at), Md5Of(data, at, len)};
      EXPECT_EQ(search.Find(q.start, q.len, q.startLong, q.md5),
                NaiveFindRange(data, q.start, q.len, q.startLong, q.md5))
          << at << " " << len;
    }
  }
  EXPECT_TRUE(search.indexed());
}

TEST(RangeSearchIndex, NeverBuiltForSmallBuffersByDefault) {
  const Bytes data(5000, 0);
  RangeSearch search(data);
  for (int k = 0; k < 20; ++k)
    EXPECT_EQ(search.Find(0, 50, 0, Md5Of(Bytes(50, 1), 0, 50 - k)), -1);
  EXPECT_FALSE(search.indexed());
}

// --- Bounded work: exact within the bounds, -1 past them. ---

// Zeros with random islands: every offset in a run of zeros starts like a
// range of zeros, and every window reaching an island differs.
Bytes SparseIslands(size_t size, uint32_t seed) {
  Bytes data(size, 0);
  std::mt19937 rng(seed);
  for (size_t at = 1000; at + 300 < size; at += 2000 + rng() % 2000) {
    const Bytes island = test::RandomBytes(100 + rng() % 200, static_cast<uint32_t>(rng()));
    std::copy(island.begin(), island.end(), data.begin() + static_cast<int64_t>(at));
  }
  return data;
}

TEST(RangeSearchBounds, AnswersMinusOnePastTheCheckBoundAndExactWithinIt) {
  const Bytes data = SparseIslands(40000, 1);
  const int32_t len = 1024;
  const int32_t at = 38000 - len;  // reaches into the last islands
  const Query wanted{0, len, StartLong(data, at), Md5Of(data, at, len)};
  const Query absent{0, len, 0, Md5Of(test::RandomBytes(len, 2), 0, len)};
  RangeSearchOptions tight;
  tight.checkWork = 64 * len;
  RangeSearch bounded(data, tight);
  EXPECT_EQ(bounded.Find(wanted.start, len, wanted.startLong, wanted.md5), -1);
  EXPECT_EQ(bounded.Find(absent.start, len, absent.startLong, absent.md5), -1);
  EXPECT_LE(bounded.workSpent(), 2 * tight.checkWork);
  // An answer cut short is not remembered: with the bound lifted it is exact.
  RangeSearchOptions loose;
  loose.checkWork = loose.totalWork = int64_t{1} << 40;
  RangeSearch roomy(data, loose);
  const int32_t exact = NaiveFindRange(data, 0, len, wanted.startLong, wanted.md5);
  EXPECT_GE(exact, 0);
  EXPECT_EQ(roomy.Find(wanted.start, len, wanted.startLong, wanted.md5), exact);
}

TEST(RangeSearchBounds, OwnOffsetsStayExactOnceTheSearchBudgetIsSpent) {
  const Bytes data = SparseIslands(100000, 3);
  RangeSearchOptions options;
  options.totalWork = 100000;
  RangeSearch search(data, options);
  const int32_t len = 2000;
  // Spends the whole search budget on ranges that are nowhere.
  for (uint32_t k = 0; k < 4; ++k)
    EXPECT_EQ(search.Find(0, len, 0, Md5Of(test::RandomBytes(len, k), 0, len)), -1);
  EXPECT_GT(search.workSpent(), options.totalWork - SearchBudget::HashCost(len));
  const int32_t moved = 50000;
  EXPECT_EQ(search.Find(moved, len, StartLong(data, moved), Md5Of(data, moved, len)), moved);
  // Found elsewhere by the reference scan, but past the budget.
  const int32_t copyAt = 3000 + len;
  EXPECT_EQ(search.Find(moved, len, StartLong(data, copyAt), Md5Of(data, copyAt, len)), -1);
  // A range too long to hash within one check's bound is not looked at.
  RangeSearchOptions small;
  small.checkWork = len;
  RangeSearch tiny(data, small);
  EXPECT_EQ(tiny.Find(moved, len, StartLong(data, moved), Md5Of(data, moved, len)), -1);
}

// After an insertion every later range has moved by the same distance: found
// by one guess and a comparison of the lower candidates, with the lowest
// copy still winning.
TEST(RangeSearchBounds, GuessesTheShiftOfEarlierAnswersAndKeepsTheLowestOffset) {
  const Bytes original = test::RandomBytes(200000, 4);
  Bytes data = original;
  const Bytes inserted = test::RandomBytes(1000, 5);
  data.insert(data.begin() + 50000, inserted.begin(), inserted.end());
  const int32_t len = 1024;
  std::copy_n(original.begin() + 150000, len, data.begin() + 20000);  // a lower copy
  const int64_t hashes = 10 * SearchBudget::HashCost(len);
  struct Case {
    int recent;
    bool indexed;
    int64_t mostWork;  // 0: not bounded
  };
  // Scanning costs an eighth of a unit per byte, twice the buffer per check
  // at most; with the index the few places named by a rare group suffice.
  for (const Case c : {Case{8, false, hashes + 10 * 2 * 200000 / 8}, Case{8, true, 2 * hashes},
                       Case{0, false, 0}, Case{0, true, 0}}) {
    RangeSearchOptions options;
    options.recentShifts = c.recent;
    options.indexMinSize = 0;
    options.scansBeforeIndex = 0;
    if (!c.indexed) options.indexMaxSize = -1;
    RangeSearch search(data, options);
    for (int32_t start = 60000; start <= 150000; start += 10000) {
      const Query q{start, len, StartLong(original, start), Md5Of(original, start, len)};
      ASSERT_EQ(search.Find(q.start, q.len, q.startLong, q.md5),
                NaiveFindRange(data, q.start, q.len, q.startLong, q.md5))
          << c.recent << " " << c.indexed << " " << start;
    }
    EXPECT_EQ(search.indexed(), c.indexed);
    if (c.mostWork > 0) {
      EXPECT_LT(search.workSpent(), c.mostWork) << c.recent << " " << c.indexed;
    }
  }
}

// --- Repeated content is rejected without one MD5 per offset. ---

struct SieveCase {
  const char* name;
  Bytes data;
  int64_t maxHashed;
};

class WindowSieveHashes : public ::testing::TestWithParam<SieveCase> {};

TEST_P(WindowSieveHashes, FewWindowsOfAbsentRange) {
  const Bytes& data = GetParam().data;
  const int64_t len = 512;
  const uint32_t start = LoadFourBytes(data.data() + 100);
  SearchBudget budget(INT64_MAX);
  WindowSieve sieve(data, len, RangeDigest(test::RandomBytes(len, 1)), budget);
  const auto last = static_cast<int64_t>(data.size()) - len;
  int64_t candidates = 0;
  for (int64_t from = 0;;) {
    const int64_t at = FindFourBytes(data, from, last, start);
    if (at < 0) break;
    ++candidates;
    const WindowSieve::Verdict verdict = sieve.Check(at);
    ASSERT_EQ(verdict.outcome, WindowSieve::Outcome::kRejected);
    from = verdict.resumeAt;
  }
  EXPECT_GT(candidates, 0);
  EXPECT_LE(sieve.hashed(), GetParam().maxHashed);
}

Bytes LongPeriod() {
  Bytes pattern(60, 'a');
  const Bytes noise = test::RandomBytes(40, 8);
  pattern.insert(pattern.end(), noise.begin(), noise.end());
  return Periodic(200000, pattern);
}

INSTANTIATE_TEST_SUITE_P(Repeats, WindowSieveHashes,
                         ::testing::Values(SieveCase{"Zeros", Bytes(200000, 0), 1},
                                           SieveCase{"PeriodSeven",
                                                     Periodic(200000, Text("aaaaaab")), 3},
                                           // 57 offsets in each period start with "aaaa".
                                           SieveCase{"RunInsideLongPeriod", LongPeriod(), 57}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The building blocks at SIMD block edges. ---

class ScanLevels : public ::testing::TestWithParam<ScanLevel> {};

TEST_P(ScanLevels, FindFourBytesFindsEveryPlantedValueAtEveryBlockEdge) {
  const uint32_t value = 0x04030201;
  for (int64_t size = 4; size <= 100; ++size) {
    for (int64_t at = 0; at + 4 <= size; ++at) {
      Bytes data(static_cast<size_t>(size), 0x01);  // Many first-byte hits, no whole match.
      for (int b = 0; b < 4; ++b)
        data[static_cast<size_t>(at + b)] = static_cast<uint8_t>(b + 1);
      // The fourth byte alone, one offset early: the filter passes, the value does not.
      if (at >= 4) data[static_cast<size_t>(at - 1)] = 0x04;
      EXPECT_EQ(FindFourBytes(data, 0, size - 4, value, GetParam()), at) << size << " " << at;
      EXPECT_EQ(FindFourBytes(data, at + 1, size - 4, value, GetParam()), -1) << size << " " << at;
      EXPECT_EQ(FindFourBytes(data, 0, at - 1, value, GetParam()), -1) << size << " " << at;
    }
  }
}

TEST_P(ScanLevels, FirstDifferenceFindsWhereARepetitionEnds) {
  std::mt19937 rng(5);
  for (int64_t distance = 1; distance <= 40; distance += 3) {
    const Bytes pattern = RandomPattern(rng, static_cast<size_t>(distance), 250);
    for (int64_t end = distance; end < 120; ++end) {
      Bytes data = Periodic(130, pattern);
      data[static_cast<size_t>(end)] = 255;
      EXPECT_EQ(FirstDifference(data, distance, distance, 130, GetParam()), end)
          << distance << " " << end;
      EXPECT_EQ(FirstDifference(data, distance, distance, end, GetParam()), end)
          << distance << " " << end;
    }
  }
}

std::string LevelName(const ::testing::TestParamInfo<ScanLevel>& info) {
  switch (info.param) {
    case ScanLevel::kPortable:
      return "Portable";
    case ScanLevel::kSse2:
      return "Sse2";
    case ScanLevel::kAvx2:
      return "Avx2";
  }
  return "";
}

INSTANTIATE_TEST_SUITE_P(Levels, ScanLevels,
                         ::testing::Values(ScanLevel::kPortable, ScanLevel::kSse2,
                                           ScanLevel::kAvx2),
                         LevelName);

TEST(RangeIndex, BucketsHoldEveryOffsetInOrder) {
  std::mt19937 rng(3);
  const Bytes data = RandomPattern(rng, 2000, 3);
  const RangeIndex index(data);
  for (size_t at = 0; at + 4 <= data.size(); ++at) {
    const uint32_t value = LoadFourBytes(data.data() + at);
    const auto bucket = index.Bucket(value);
    EXPECT_TRUE(std::is_sorted(bucket.begin(), bucket.end()));
    EXPECT_TRUE(std::binary_search(bucket.begin(), bucket.end(), static_cast<uint32_t>(at)));
  }
  EXPECT_TRUE(RangeIndex(Bytes{1, 2, 3}).Bucket(0x030201).empty());
}

}  // namespace
}  // namespace kelpie
