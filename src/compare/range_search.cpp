// The responder's range search.
//
// The own offset is tested first with one MD5. Otherwise the lowest offset
// whose four start bytes and MD5 match is wanted. Windows of up to four bytes
// are fixed by their start bytes, so one MD5 settles whether any offset with
// those bytes matches. Longer windows go through a WindowSieve, which hashes
// only windows unlike those already rejected, fed with candidate offsets
// either by a SIMD four-byte scan of the buffer or, once scans have read the
// buffer a few times over, by a RangeIndex bucket.
//
// Before that, the range is looked for where earlier ranges turned up
// relative to their own offsets, and close by: after an insertion every
// later range has moved by the same distance, and an edit that changes the
// length moves them a little further. A hit there is one MD5; what remains is to make
// sure no lower offset holds the same bytes, which compares candidates with
// the bytes found instead of hashing them, and usually settles each within a
// few bytes.
//
// Every step is charged to a budget (search_budget.h): one per call, so that
// no check holds the main loop for long, and one for the whole search, so
// that a comparison of any content ends. A search the budget cannot finish
// answers -1, which is sound: the initiator then fetches those bytes instead
// of copying them. Only answers found within the bounds are remembered per
// (length, StartLong, MD5), so repeated content in the initiator's file costs
// one search.
#include "compare/range_search.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "compare/fingerprint.h"
#include "compare/four_byte_scan.h"
#include "compare/range_index.h"
#include "compare/search_budget.h"
#include "compare/window_sieve.h"

namespace kelpie {
namespace {

// What a search returns when its budget ran out before it knew the answer.
constexpr int64_t kOutOfBudget = -2;
// A bucket entry walked costs a read of the data at a place of its own,
// mostly a cache miss (about 100 ns, as much as hashing 64 bytes); one merged
// with another bucket is read in order.
constexpr size_t kScannedBytesPerBucketEntry = 512;
constexpr int64_t kBucketEntryCost = kScannedBytesPerBucketEntry / SearchBudget::kBytesPerUnit;
constexpr int64_t kMergedEntryCost = 1;
// How far from its own offset, or from where a recent shift puts it, a range
// is looked for before the whole buffer.
constexpr int64_t kNearby = 1024;
// Four-byte groups of a found window whose buckets are compared for the rarest.
constexpr int64_t kSampledGroups = 64;
// A search whose remaining candidates would cost this many times its budget
// to hash is given up, looked at every so many candidates.
constexpr int64_t kHopelessFactor = 4;
constexpr int64_t kCandidatesPerLook = 32;
// Bytes scanned between two looks at the budget.
constexpr int64_t kScanStride = int64_t{1} << 20;

struct AnswerKey {
  int32_t len;
  int32_t startLong;
  Md5Digest digest;
  bool operator==(const AnswerKey&) const = default;
};

struct AnswerKeyHash {
  size_t operator()(const AnswerKey& key) const {
    uint64_t mixed;
    std::memcpy(&mixed, key.digest.data(), sizeof mixed);
    mixed ^= (static_cast<uint64_t>(static_cast<uint32_t>(key.len)) << 32) ^
             static_cast<uint32_t>(key.startLong);
    return static_cast<size_t>(mixed * 0x9e3779b97f4a7c15ull);
  }
};

bool HasDigest(std::span<const uint8_t> data, int64_t at, int64_t len, const Md5Digest& digest) {
  return RangeDigest(data.subspan(static_cast<size_t>(at), static_cast<size_t>(len))) == digest;
}

// Makes the index at once, on the searching thread, the first time it pays off.
class ImmediateIndex : public RangeIndexSource {
 public:
  explicit ImmediateIndex(std::span<const uint8_t> data) : data_(data) {}
  std::shared_ptr<const RangeIndex> ReadyRangeIndex() override {
    if (tried_) return index_;
    tried_ = true;
    auto built = std::make_shared<const RangeIndex>(data_);
    if (built->ok()) index_ = std::move(built);
    return index_;
  }

 private:
  std::span<const uint8_t> data_;
  bool tried_ = false;
  std::shared_ptr<const RangeIndex> index_;
};

}  // namespace

struct RangeSearch::State {
  std::span<const uint8_t> data;
  RangeSearchOptions options;
  std::unique_ptr<RangeIndexSource> ownSource;
  RangeIndexSource* indexSource = nullptr;
  std::shared_ptr<const RangeIndex> index;
  // Bytes read by scans so far; decides when the index pays off.
  int64_t scanned = 0;
  int64_t totalSpent = 0;
  std::unordered_map<AnswerKey, int32_t, AnswerKeyHash> answers;
  // found - start of recent answers, the latest first.
  std::vector<int64_t> shifts;

  int64_t FindShortRange(int64_t len, int32_t startLong, const Md5Digest& digest,
                         SearchBudget& budget);
  int64_t FindLongRange(int64_t start, int64_t len, uint32_t value, const Md5Digest& digest,
                        SearchBudget& budget);
  int64_t FindNear(int64_t start, int64_t len, uint32_t value, const Md5Digest& digest,
                   SearchBudget& budget);
  int64_t LowestSameAs(int64_t known, int64_t len, uint32_t value, SearchBudget& budget);
  int64_t MergeBuckets(WindowSieve& sieve, int64_t known, int64_t first, int64_t second,
                       uint32_t value, SearchBudget& budget) const;
  int64_t FirstWanted(WindowSieve& sieve, int64_t from, int64_t last, uint32_t value,
                      SearchBudget& budget);
  int64_t ScanFourBytes(int64_t from, int64_t last, uint32_t value, SearchBudget& budget);
  int64_t WalkBucket(WindowSieve& sieve, int64_t from, int64_t last, uint32_t value,
                     SearchBudget& budget) const;
  bool Hopeless(const WindowSieve& sieve, int64_t seen, int64_t from, int64_t last, uint32_t value,
                const SearchBudget& budget) const;
  void AskForIndex();
  void RememberShift(int64_t shift);
};

// Windows of at most four bytes are the first bytes of StartLong wherever
// StartLong matches (bytes past the end read as zero but lie outside the
// window), so only the lowest offset with that StartLong can be the answer.
int64_t RangeSearch::State::FindShortRange(int64_t len, int32_t startLong, const Md5Digest& digest,
                                           SearchBudget& budget) {
  uint8_t start[4];
  const auto value = static_cast<uint32_t>(startLong);
  for (int b = 0; b < 4; ++b)
    start[b] = static_cast<uint8_t>(value >> (8 * b));
  if (!budget.TakeHash(len)) return kOutOfBudget;
  if (RangeDigest(std::span<const uint8_t>(start, static_cast<size_t>(len))) != digest) return -1;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t lastWhole = size - 4;
  const int64_t found = ScanFourBytes(0, lastWhole, value, budget);
  scanned += found >= 0 ? found : size;
  if (found != -1) return found;
  for (int64_t i = std::max<int64_t>(0, lastWhole + 1); i <= size - len; ++i) {
    if (StartLong(data, i) == startLong) return i;
  }
  return -1;
}

int64_t RangeSearch::State::FindLongRange(int64_t start, int64_t len, uint32_t value,
                                          const Md5Digest& digest, SearchBudget& budget) {
  AskForIndex();
  const int64_t near = FindNear(start, len, value, digest, budget);
  if (near == kOutOfBudget) return near;
  if (near >= 0) return LowestSameAs(near, len, value, budget);
  WindowSieve sieve(data, len, digest, budget);
  return FirstWanted(sieve, 0, static_cast<int64_t>(data.size()) - len, value, budget);
}

// Where the range is likely to be: its own offset moved by a recent shift,
// then anywhere close to its own offset or to those places (an edit that
// changes the length by a little moves what follows by a little more). An
// offset holding the range, -1 when none of these does.
int64_t RangeSearch::State::FindNear(int64_t start, int64_t len, uint32_t value,
                                     const Md5Digest& digest, SearchBudget& budget) {
  const int64_t last = static_cast<int64_t>(data.size()) - len;
  std::vector<std::pair<int64_t, int64_t>> around = {{start - kNearby, start + kNearby}};
  for (const int64_t shift : shifts) {
    const int64_t guess = start + shift;
    around.emplace_back(guess - kNearby, guess + kNearby);
    if (guess < 0 || guess > last || LoadFourBytes(data.data() + guess) != value) continue;
    if (!budget.TakeHash(len)) return kOutOfBudget;
    if (HasDigest(data, guess, len, digest)) return guess;
  }
  // Overlapping stretches are searched once, each in ascending order, so
  // that a sieve can step over repeats within it.
  std::sort(around.begin(), around.end());
  for (size_t k = 0; k < around.size();) {
    const int64_t from = std::max<int64_t>(0, around[k].first);
    int64_t to = around[k].second;
    for (++k; k < around.size() && around[k].first <= to + 1; ++k)
      to = std::max(to, around[k].second);
    if (from > std::min(to, last)) continue;
    WindowSieve sieve(data, len, digest, budget);
    const int64_t found = FirstWanted(sieve, from, std::min(to, last), value, budget);
    if (found != -1) return found;
  }
  return -1;
}

// The lowest offset holding the same len bytes as known does.
int64_t RangeSearch::State::LowestSameAs(int64_t known, int64_t len, uint32_t value,
                                         SearchBudget& budget) {
  WindowSieve sieve(data, len, known, budget);
  // A lower copy holds every four bytes of the window too, each at its place.
  // With an index, the two rarest of a few of them name, by merging their
  // buckets, the few places worth comparing (text starts with common words,
  // but two rare groups at the right distance hardly ever meet by chance).
  struct Group {
    size_t count = SIZE_MAX;
    int64_t at = 0;
  };
  Group rarest, second;
  for (int64_t t = 0; index && t < kSampledGroups; ++t) {
    const int64_t at = t * (len - 4) / (kSampledGroups - 1);
    const Group group{index->Bucket(LoadFourBytes(data.data() + known + at)).size(), at};
    if (group.count < rarest.count) {
      if (rarest.at != at) second = rarest;
      rarest = group;
    } else if (group.count < second.count && at != rarest.at) {
      second = group;
    }
  }
  if (second.count == SIZE_MAX) second = rarest;
  const int64_t lower = rarest.count < data.size() / kScannedBytesPerBucketEntry
                            ? MergeBuckets(sieve, known, rarest.at, second.at, value, budget)
                            : FirstWanted(sieve, 0, known - 1, value, budget);
  return lower == -1 ? known : lower;
}

// The first candidate c below known the sieve accepts among those whose four
// bytes at c + first and at c + second are those of the known window there:
// the buckets of both groups walked side by side, no data read until both
// agree.
int64_t RangeSearch::State::MergeBuckets(WindowSieve& sieve, int64_t known, int64_t first,
                                         int64_t second, uint32_t value,
                                         SearchBudget& budget) const {
  const std::span<const uint32_t> ones = index->Bucket(LoadFourBytes(data.data() + known + first));
  const std::span<const uint32_t> others =
      index->Bucket(LoadFourBytes(data.data() + known + second));
  auto it = std::lower_bound(ones.begin(), ones.end(), static_cast<uint64_t>(first));
  auto other = others.begin();
  while (it != ones.end() && *it - first < known) {
    if (!budget.Take(kMergedEntryCost)) return kOutOfBudget;
    const int64_t candidate = *it - first;
    other = std::lower_bound(other, others.end(), static_cast<uint64_t>(candidate + second));
    if (other == others.end()) return -1;
    if (*other != candidate + second || LoadFourBytes(data.data() + candidate) != value) {
      ++it;
      continue;
    }
    const WindowSieve::Verdict verdict = sieve.Check(candidate);
    if (verdict.outcome == WindowSieve::Outcome::kMatch) return candidate;
    if (verdict.outcome == WindowSieve::Outcome::kOutOfBudget) return kOutOfBudget;
    it = std::lower_bound(it + 1, ones.end(), static_cast<uint64_t>(verdict.resumeAt + first));
  }
  return -1;
}

// The first candidate in [from, last] the sieve accepts, -1 when none does.
int64_t RangeSearch::State::FirstWanted(WindowSieve& sieve, int64_t from, int64_t last,
                                        uint32_t value, SearchBudget& budget) {
  // A bucket entry costs a data read, a scanned byte a small part of one
  // SIMD compare: buckets holding more than a small share of the offsets
  // (long runs, common words) are cheaper to scan for.
  if (index && index->Bucket(value).size() < data.size() / kScannedBytesPerBucketEntry) {
    return WalkBucket(sieve, from, last, value, budget);
  }
  const int64_t first = from;
  int64_t found = -1;
  for (int64_t seen = 1;; ++seen) {
    found = ScanFourBytes(from, last, value, budget);
    if (found < 0) break;
    if (Hopeless(sieve, seen, found, last, value, budget)) {
      found = kOutOfBudget;
      break;
    }
    const WindowSieve::Verdict verdict = sieve.Check(found);
    if (verdict.outcome == WindowSieve::Outcome::kMatch) break;
    if (verdict.outcome == WindowSieve::Outcome::kOutOfBudget) {
      found = kOutOfBudget;
      break;
    }
    from = verdict.resumeAt;
  }
  // Repeats the sieve stepped over were read too; a search that finds
  // nothing has read every window.
  scanned += (found >= 0 ? found : found == -1 ? last + sieve.len() : from) - first;
  return found;
}

// Whether hashing what is left of the candidates in [from, last], at the
// share of them the sieve has had to hash so far, would cost several times
// the budget left: such a search (common words in text, record headers) is
// given up at once rather than after spending its whole bound on a -1.
// Looked at every so many candidates, with the index to count them.
bool RangeSearch::State::Hopeless(const WindowSieve& sieve, int64_t seen, int64_t from,
                                  int64_t last, uint32_t value, const SearchBudget& budget) const {
  if (!index || !sieve.hashes() || seen % kCandidatesPerLook != 0) return false;
  const std::span<const uint32_t> bucket = index->Bucket(value);
  const auto begin = std::lower_bound(bucket.begin(), bucket.end(), static_cast<uint64_t>(from));
  const auto end = std::upper_bound(begin, bucket.end(), static_cast<uint64_t>(last));
  const double share = static_cast<double>(sieve.hashed()) / static_cast<double>(seen);
  const double cost = static_cast<double>(end - begin) * share *
                      static_cast<double>(SearchBudget::HashCost(sieve.len()));
  return cost > static_cast<double>(kHopelessFactor * budget.left());
}

// The lowest offset in [from, last] whose four bytes read as value; -1 when
// none does. The caller keeps last + 4 <= data.size().
int64_t RangeSearch::State::ScanFourBytes(int64_t from, int64_t last, uint32_t value,
                                          SearchBudget& budget) {
  while (from <= last) {
    const int64_t stride = std::min({last - from + 1, kScanStride, budget.ScannableBytes()});
    if (stride <= 0) return kOutOfBudget;
    const int64_t hit = FindFourBytes(data, from, from + stride - 1, value);
    const int64_t read = hit < 0 ? stride : hit - from + 1;
    budget.TakeScanned(read);
    if (hit >= 0) return hit;
    from += stride;
  }
  return -1;
}

int64_t RangeSearch::State::WalkBucket(WindowSieve& sieve, int64_t from, int64_t last,
                                       uint32_t value, SearchBudget& budget) const {
  const std::span<const uint32_t> bucket = index->Bucket(value);
  auto it = std::lower_bound(bucket.begin(), bucket.end(), static_cast<uint64_t>(from));
  for (int64_t seen = 1; it != bucket.end() && *it <= last; ++seen) {
    if (!budget.Take(kBucketEntryCost)) return kOutOfBudget;
    const int64_t candidate = *it;
    if (LoadFourBytes(data.data() + candidate) != value) {
      ++it;
      continue;
    }
    if (Hopeless(sieve, seen, candidate, last, value, budget)) return kOutOfBudget;
    const WindowSieve::Verdict verdict = sieve.Check(candidate);
    if (verdict.outcome == WindowSieve::Outcome::kMatch) return candidate;
    if (verdict.outcome == WindowSieve::Outcome::kOutOfBudget) return kOutOfBudget;
    // Repeated content skips many offsets at once; find where to go on.
    it = verdict.resumeAt == candidate + 1
             ? it + 1
             : std::lower_bound(it + 1, bucket.end(), static_cast<uint64_t>(verdict.resumeAt));
  }
  return -1;
}

void RangeSearch::State::AskForIndex() {
  if (index) return;
  const auto size = static_cast<int64_t>(data.size());
  if (size < options.indexMinSize || size > options.indexMaxSize ||
      scanned < options.scansBeforeIndex * size) {
    return;
  }
  index = indexSource->ReadyRangeIndex();
}

void RangeSearch::State::RememberShift(int64_t shift) {
  if (options.recentShifts <= 0) return;
  std::erase(shifts, shift);
  if (shifts.size() >= static_cast<size_t>(options.recentShifts)) shifts.pop_back();
  shifts.insert(shifts.begin(), shift);
}

RangeSearch::RangeSearch(std::span<const uint8_t> data, const RangeSearchOptions& options,
                         RangeIndexSource* indexSource)
    : state_(std::make_unique<State>()) {
  state_->data = data;
  state_->options = options;
  if (indexSource == nullptr) {
    state_->ownSource = std::make_unique<ImmediateIndex>(data);
    indexSource = state_->ownSource.get();
  }
  state_->indexSource = indexSource;
}

RangeSearch::~RangeSearch() = default;

bool RangeSearch::indexed() const {
  return state_->index != nullptr;
}

int64_t RangeSearch::workSpent() const {
  return state_->totalSpent;
}

int32_t RangeSearch::Find(int32_t start, int32_t len, int32_t startLong, std::string_view md5) {
  Md5Digest digest{};
  if (!ParseDigestText(md5, digest) || len < 0) return -1;
  State& state = *state_;
  const std::span<const uint8_t> data = state.data;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t length = len;
  SearchBudget check(state.options.checkWork);
  if (start >= 0 && start + length <= size) {
    // A range too long to hash once within the bound is not one any
    // initiator of this program sends.
    if (!check.TakeHash(length)) return -1;
    if (StartLong(data, start) == startLong && HasDigest(data, start, length, digest)) return start;
  }
  if (length > size) return -1;
  const AnswerKey key{len, startLong, digest};
  if (const auto known = state.answers.find(key); known != state.answers.end()) {
    return known->second;
  }
  SearchBudget search(std::min(check.left(), state.options.totalWork - state.totalSpent));
  const int64_t found =
      length <= 4
          ? state.FindShortRange(length, startLong, digest, search)
          : state.FindLongRange(start, length, static_cast<uint32_t>(startLong), digest, search);
  state.totalSpent += search.spent();
  if (found == kOutOfBudget) return -1;
  if (found >= 0 && found != start) state.RememberShift(found - start);
  if (state.answers.size() >= state.options.cachedAnswers) state.answers.clear();
  if (state.options.cachedAnswers > 0) state.answers.emplace(key, static_cast<int32_t>(found));
  return static_cast<int32_t>(found);
}

int32_t NaiveFindRange(std::span<const uint8_t> data, int32_t start, int32_t len, int32_t startLong,
                       std::string_view md5) {
  if (len < 0) return -1;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t length = len;
  const auto matches = [&](int64_t at) {
    return StartLong(data, at) == startLong &&
           RangeFingerprint(data.subspan(static_cast<size_t>(at), static_cast<size_t>(length))) ==
               md5;
  };
  if (start >= 0 && start + length <= size && matches(start)) return start;
  for (int64_t i = 0; i <= size - length; ++i) {
    if (matches(i)) return static_cast<int32_t>(i);
  }
  return -1;
}

}  // namespace kelpie
