// The responder's range search.
//
// The own offset is tested first with one MD5. Otherwise the lowest offset
// whose four start bytes and MD5 match is wanted. Windows of up to four bytes
// are fixed by their start bytes, so one MD5 settles whether any offset with
// those bytes matches. Longer windows go through a WindowSieve, which hashes
// only windows unlike those already rejected, fed with candidate offsets
// either by a SIMD four-byte scan of the buffer or, once scans have read the
// buffer a few times over, by a RangeIndex bucket. Answers are remembered per
// (length, StartLong, MD5), so repeated content in the initiator's file costs
// one search.
#include "compare/range_search.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "compare/fingerprint.h"
#include "compare/four_byte_scan.h"
#include "compare/range_index.h"
#include "compare/window_sieve.h"

namespace kelpie {
namespace {

constexpr size_t kScannedBytesPerBucketEntry = 32;

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

bool RangeMatches(std::span<const uint8_t> data, int64_t at, int64_t len, int32_t startLong,
                  const Md5Digest& digest) {
  return StartLong(data, at) == startLong &&
         RangeDigest(data.subspan(static_cast<size_t>(at), static_cast<size_t>(len))) == digest;
}

// Windows of at most four bytes are the first bytes of StartLong wherever
// StartLong matches (bytes past the end read as zero but lie outside the
// window), so only the lowest offset with that StartLong can be the answer.
int64_t FindShortRange(std::span<const uint8_t> data, int64_t len, int32_t startLong,
                       const Md5Digest& digest) {
  uint8_t start[4];
  const auto value = static_cast<uint32_t>(startLong);
  for (int b = 0; b < 4; ++b)
    start[b] = static_cast<uint8_t>(value >> (8 * b));
  if (RangeDigest(std::span<const uint8_t>(start, static_cast<size_t>(len))) != digest) return -1;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t lastWhole = size - 4;
  const int64_t found = FindFourBytes(data, 0, lastWhole, value);
  if (found >= 0) return found;
  for (int64_t i = std::max<int64_t>(0, lastWhole + 1); i <= size - len; ++i) {
    if (StartLong(data, i) == startLong) return i;
  }
  return -1;
}

}  // namespace

struct RangeSearch::State {
  std::span<const uint8_t> data;
  RangeSearchOptions options;
  std::unique_ptr<RangeIndex> index;
  bool indexTried = false;
  // Bytes read by scans so far; decides when the index pays off.
  int64_t scanned = 0;
  std::unordered_map<AnswerKey, int32_t, AnswerKeyHash> answers;

  int64_t FindLongRange(int64_t len, int32_t startLong, const Md5Digest& digest);
  int64_t ScanBuffer(WindowSieve& sieve, int64_t last, uint32_t value);
  int64_t WalkBucket(WindowSieve& sieve, int64_t last, uint32_t value) const;
  bool IndexPaysOff() const;
};

int64_t RangeSearch::State::FindLongRange(int64_t len, int32_t startLong, const Md5Digest& digest) {
  if (!index && !indexTried && IndexPaysOff()) {
    // Without the memory for an index, scans go on as before.
    indexTried = true;
    auto built = std::make_unique<RangeIndex>(data);
    if (built->ok()) index = std::move(built);
  }
  WindowSieve sieve(data, len, digest);
  const int64_t last = static_cast<int64_t>(data.size()) - len;
  const auto value = static_cast<uint32_t>(startLong);
  // A bucket entry costs a data read, a scanned byte a small part of one
  // SIMD compare: buckets holding a large share of the offsets (long runs)
  // are cheaper to scan for.
  const bool walk =
      index && index->Bucket(value).size() < data.size() / kScannedBytesPerBucketEntry;
  return walk ? WalkBucket(sieve, last, value) : ScanBuffer(sieve, last, value);
}

int64_t RangeSearch::State::ScanBuffer(WindowSieve& sieve, int64_t last, uint32_t value) {
  int64_t from = 0;
  while (true) {
    const int64_t candidate = FindFourBytes(data, from, last, value);
    if (candidate < 0) break;
    const WindowSieve::Verdict verdict = sieve.Check(candidate);
    if (verdict.match) {
      scanned += candidate;
      return candidate;
    }
    from = verdict.resumeAt;
  }
  scanned += static_cast<int64_t>(data.size());
  return -1;
}

int64_t RangeSearch::State::WalkBucket(WindowSieve& sieve, int64_t last, uint32_t value) const {
  const std::span<const uint32_t> bucket = index->Bucket(value);
  auto it = bucket.begin();
  while (it != bucket.end() && *it <= last) {
    const int64_t candidate = *it;
    if (LoadFourBytes(data.data() + candidate) != value) {
      ++it;
      continue;
    }
    const WindowSieve::Verdict verdict = sieve.Check(candidate);
    if (verdict.match) return candidate;
    // Repeated content skips many offsets at once; find where to go on.
    it = verdict.resumeAt == candidate + 1
             ? it + 1
             : std::lower_bound(it + 1, bucket.end(), static_cast<uint64_t>(verdict.resumeAt));
  }
  return -1;
}

bool RangeSearch::State::IndexPaysOff() const {
  const auto size = static_cast<int64_t>(data.size());
  return size >= options.indexMinSize && size <= options.indexMaxSize &&
         scanned >= options.scansBeforeIndex * size;
}

RangeSearch::RangeSearch(std::span<const uint8_t> data) : RangeSearch(data, RangeSearchOptions{}) {}

RangeSearch::RangeSearch(std::span<const uint8_t> data, const RangeSearchOptions& options)
    : state_(std::make_unique<State>()) {
  state_->data = data;
  state_->options = options;
}

RangeSearch::~RangeSearch() = default;

bool RangeSearch::indexed() const {
  return state_->index != nullptr;
}

int32_t RangeSearch::Find(int32_t start, int32_t len, int32_t startLong, std::string_view md5) {
  Md5Digest digest{};
  if (!ParseDigestText(md5, digest) || len < 0) return -1;
  State& state = *state_;
  const std::span<const uint8_t> data = state.data;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t length = len;
  if (start >= 0 && start + length <= size &&
      RangeMatches(data, start, length, startLong, digest)) {
    return start;
  }
  if (length > size) return -1;
  const AnswerKey key{len, startLong, digest};
  if (const auto known = state.answers.find(key); known != state.answers.end()) {
    return known->second;
  }
  const int64_t found = length <= 4 ? FindShortRange(data, length, startLong, digest)
                                    : state.FindLongRange(length, startLong, digest);
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
