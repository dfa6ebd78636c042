#include "compare/chunk_index.h"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "common/zigzag.h"
#include "compare/background_work.h"
#include "compare/prepared_cuts.h"
#include "compare/vector_state.h"

namespace kelpie {
namespace {

// Zero runs shorter than this are not remembered: hashing them costs little,
// and a list of many short ones would cost more than it saves.
constexpr int64_t kMinZeroRun = 4096;
// Ranges at least this long keep their whole fingerprint: hashing one again
// to answer a check about it would cost a few microseconds a kilobyte, while
// keeping it costs under a thousandth of the range.
constexpr int64_t kKeptHashLength = int64_t{32} << 10;
// Offsets whose tag matches that are hashed at most per check: more than one
// only when the tags of different fingerprints agree, or the same bytes were
// indexed at several places.
constexpr int kMaxCandidates = 4;
// How far from a range's own offset a nearer copy of bytes found elsewhere is
// looked for, and how many chunk starts there are compared in full at most.
constexpr int64_t kNearWindow = int64_t{64} << 10;
constexpr size_t kMostNearTries = 4;
// How far from its own offset a range found far away is looked for at any
// offset.
constexpr int64_t kNearBytes = int64_t{16} << 10;
// A copy found at most this far away is taken as the nearest: the peer's
// file is then shifted against the local one, not repeating itself.
constexpr int64_t kNearShift = 1024;
// Records and entries are five bytes. Small chunks past this many are not
// indexed, nor more ranges, so that chunk numbers fit 31 bits and places
// in the records 32.
constexpr size_t kValueBytes = 5;
constexpr int kValueBits = 8 * kValueBytes;
constexpr size_t kMostEntries = (size_t{1} << 31) - 1;
// Chains of moves that place records at once.
constexpr size_t kChains = 16;
// Ranges remembered while indexing, at most, to index a repeat of the same
// bytes once.
constexpr size_t kRecentRanges = size_t{1} << 14;
// Buckets sorted between two looks at whether the build is to stop.
constexpr size_t kBucketsPerLook = 4096;
// Entries kept at most per byte of data, so that even data cut into the
// shortest chunks everywhere costs under 1/16 of its size; on any real data
// ranges are three times rarer than this.
constexpr int64_t kBytesPerEntry = 160;

// Never written: read as the bytes of zero ranges.
alignas(64) uint8_t zeroBytes[64 << 10];

uint64_t ZeroBytesHash(int64_t len) {
  if (len <= std::ssize(zeroBytes)) return RangeHash({zeroBytes, static_cast<size_t>(len)});
  std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> state(XXH3_createState(),
                                                                 &XXH3_freeState);
  if (!state) throw std::bad_alloc();
  XXH3_64bits_reset(state.get());
  for (int64_t left = len; left > 0; left -= std::ssize(zeroBytes)) {
    XXH3_64bits_update(state.get(), zeroBytes,
                       static_cast<size_t>(std::min<int64_t>(left, std::ssize(zeroBytes))));
  }
  const uint64_t hash = XXH3_64bits_digest(state.get());
  ClearUpperVectorState();
  return hash;
}

// Five-byte values, least significant byte first.
uint64_t ReadValue(const uint8_t* bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < kValueBytes; ++i)
    value |= uint64_t{bytes[i]} << (8 * i);
  return value;
}

void WriteValue(uint8_t* bytes, uint64_t value) {
  for (size_t i = 0; i < kValueBytes; ++i)
    bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

// Cuts the data and indexes its ranges as the cuts come, while the bytes are
// in the cache: a range is hashed when its last chunk is cut. Each range
// becomes a record, the top 40 bits of its key: the records of the small
// chunks in chunk order, so that a record's place is its chunk's number, then
// those of the longer ranges, whose first chunks are kept beside them. The
// records are then moved into bucket order, each turned into its entry, tag
// and chunk, in the place it moves to; so the index never holds much more
// than it keeps.
class ChunkIndex::Builder final : public ZeroRunSink {
 public:
  Builder(ChunkIndex& index, Tables& tables, WorkProgress* progress);
  // Cuts come from `cutter`: a ChunkCutter over the data, whose cuts are
  // added to `adding`, or a CutReplay of cuts the tables hold already.
  template <typename Cutter>
  void Run(Cutter& cutter, ChunkCuts* adding);
  void ZeroRun(int64_t start, int64_t end) override;

 private:
  struct Recent {
    uint64_t hash = 0;
    int64_t len = 0;
  };
  // Marks a small chunk's record that is not indexed; a key that happens to
  // equal it is changed in its lowest bit, which no bucket or tag holds.
  static constexpr uint64_t kSkipped = (uint64_t{1} << kValueBits) - 1;

  // The record of a range, or kSkipped when it is not to be indexed.
  uint64_t RecordOf(int64_t from, int64_t end, size_t firstChunk);
  bool KnownZero(int64_t from, int64_t end) const;
  void Finish();
  size_t BucketOf(uint64_t record) const;
  uint64_t RecordAt(size_t at) const { return ReadValue(records_.data() + at * kValueBytes); }
  void PutEntry(size_t at, uint64_t record, uint64_t chunk);
  void PlaceEntries(const PodBuffer<uint32_t>& starts);

  ChunkIndex& index_;
  Tables& tables_;
  WorkProgress* progress_;
  const int64_t size_;
  size_t maxEntries_ = 0;
  size_t kept_ = 0;  // records not skipped
  // A small chunk's record by its number, then the longer ranges'.
  PodBuffer<uint8_t> records_;
  PodBuffer<uint8_t> longer_;         // the longer ranges' records while cutting
  PodBuffer<uint32_t> longerChunks_;  // their first chunks
  size_t chunkRecords_ = 0;
  std::vector<Recent> recent_;
  Tables::ZeroRun run_;  // the latest run of zeros
  int bucketBits_ = 0;
};

ChunkIndex::Builder::Builder(ChunkIndex& index, Tables& tables, WorkProgress* progress)
    : index_(index),
      tables_(tables),
      progress_(progress),
      size_(static_cast<int64_t>(index.data_.size())),
      recent_(std::bit_ceil(static_cast<size_t>(
          std::clamp<int64_t>(size_ / 256, 64, static_cast<int64_t>(kRecentRanges))))) {
  maxEntries_ = static_cast<size_t>(std::min<int64_t>(size_ / kBytesPerEntry + 1024, kMostEntries));
}

template <typename Cutter>
void ChunkIndex::Builder::Run(Cutter& cutter, ChunkCuts* adding) {
  // Chunks average about 380 bytes on varied data; the lists grow without
  // copying when the data cuts finer.
  const auto chunks = static_cast<size_t>(size_ / 256 + 1);
  if (adding != nullptr) adding->Reserve(chunks);
  records_.Reserve(chunks * kValueBytes);
  std::array<int64_t, kTopChunkLevel + 1> from{};
  std::array<size_t, kTopChunkLevel + 1> firstChunk{};
  int64_t end = 0;
  int level = 0;
  uint8_t bytes[kValueBytes];
  for (size_t chunk = 0; cutter.Next(end, level); ++chunk) {
    if (progress_ != nullptr && chunk % kChunksPerReport == 0) {
      progress_->SetDone(end);
      if (progress_->StopRequested()) return;
    }
    if (adding != nullptr) adding->Add(end, level);
    if (chunk < kMostEntries) {
      WriteValue(bytes, RecordOf(from[0], end, chunk));
      for (const uint8_t byte : bytes)
        records_.push_back(byte);
    }
    for (int k = 1; k <= level; ++k) {
      // A range equal to the one below it is already indexed.
      if (from[k] == from[k - 1]) continue;
      const uint64_t record = RecordOf(from[k], end, firstChunk[k]);
      if (record == kSkipped) continue;
      WriteValue(bytes, record);
      for (const uint8_t byte : bytes)
        longer_.push_back(byte);
      longerChunks_.push_back(static_cast<uint32_t>(firstChunk[k]));
    }
    for (int k = 0; k <= level; ++k) {
      from[k] = end;
      firstChunk[k] = chunk + 1;
    }
  }
  if (adding != nullptr) adding->Shrink();
  tables_.zeroRuns.Shrink();
  // Kept as their last chunks were cut: by end, and of one end longest last.
  PodBuffer<KeptRangeHash>& kept = tables_.keptHashes;
  std::sort(kept.data(), kept.data() + kept.size());
  kept.Shrink();
  recent_ = {};
  chunkRecords_ = records_.size() / kValueBytes;
  records_.Reserve(records_.size() + longer_.size());
  for (size_t i = 0; i < longer_.size(); ++i)
    records_.push_back(longer_[i]);
  longer_ = {};
  if (progress_ != nullptr && progress_->StopRequested()) return;
  Finish();
}

void ChunkIndex::Builder::ZeroRun(int64_t start, int64_t end) {
  run_ = {start, end};
  if (end - start >= kMinZeroRun) tables_.zeroRuns.push_back(run_);
}

// A range is hashed when its last chunk is cut, so a range of zeros lies in
// the latest run reported.
bool ChunkIndex::Builder::KnownZero(int64_t from, int64_t end) const {
  return run_.start <= from && end <= run_.end;
}

uint64_t ChunkIndex::Builder::RecordOf(int64_t from, int64_t end, size_t firstChunk) {
  if (firstChunk >= kMostEntries || kept_ >= maxEntries_) return kSkipped;
  const int64_t len = end - from;
  int64_t unlimited = std::numeric_limits<int64_t>::max();
  const bool zeros = KnownZero(from, end);
  const uint64_t hash =
      zeros ? *index_.ZerosHash(len, unlimited)
            : RangeHash(index_.data_.subspan(static_cast<size_t>(from), static_cast<size_t>(len)));
  if (!zeros && len >= kKeptHashLength) tables_.keptHashes.push_back({from, len, hash});
  // The same bytes met again soon (zeros, fill, records) are indexed once;
  // the first is kept.
  Recent& seen = recent_[hash & (recent_.size() - 1)];
  if (seen.hash == hash && seen.len == len) return kSkipped;
  seen = {hash, len};
  ++kept_;
  const uint64_t record = Key(hash, len) >> (64 - kValueBits);
  return record == kSkipped ? record - 1 : record;
}

size_t ChunkIndex::Builder::BucketOf(uint64_t record) const {
  if (record == kSkipped) return size_t{1} << bucketBits_;
  return bucketBits_ == 0 ? 0 : static_cast<size_t>(record >> (kValueBits - bucketBits_));
}

void ChunkIndex::Builder::PutEntry(size_t at, uint64_t record, uint64_t chunk) {
  const uint64_t key = record << (64 - kValueBits);
  const uint64_t tag = (key >> tables_.tagShift) & tables_.tagMask;
  WriteValue(records_.data() + at * kValueBytes, tag << tables_.chunkBits | chunk);
}

// Moves every record to a place of its bucket, turned into its entry there.
// A record taken from a place opens a hole, and the record carried goes to
// a hole of its bucket or else to the next place not yet taken, whose record
// is carried on in turn. Places not yet taken still hold their records, so a
// small chunk's record is still where its number says. Several such chains
// go at once, each asking for the place it moves to next ahead of time, so
// their misses of the cache overlap instead of following one another.
void ChunkIndex::Builder::PlaceEntries(const PodBuffer<uint32_t>& starts) {
  const size_t buckets = starts.size() - 1;
  PodBuffer<uint32_t> next = starts;
  const auto chunkAt = [&](size_t at) -> uint64_t {
    return at < chunkRecords_ ? at : longerChunks_[at - chunkRecords_];
  };
  struct Hole {
    size_t at;
    size_t bucket;
  };
  struct Chain {
    enum { kIdle, kPlace, kMove } step = kIdle;
    uint64_t record = 0;  // carried
    uint64_t chunk = 0;
    size_t to = 0;  // kMove: the place taken
  };
  std::array<Chain, kChains> chains{};
  std::array<Hole, kChains> holes{};
  size_t openHoles = 0;
  size_t scan = 0;  // the bucket new chains start in
  for (size_t busy = 1; busy > 0;) {
    busy = 0;
    for (Chain& chain : chains) {
      if (chain.step == Chain::kIdle) {
        while (scan < buckets && next[scan] == starts[scan + 1])
          ++scan;
        if (scan == buckets) continue;
        const size_t at = next[scan]++;
        chain.record = RecordAt(at);
        chain.chunk = chunkAt(at);
        if (BucketOf(chain.record) == scan) {
          PutEntry(at, chain.record, chain.chunk);
        } else {
          holes[openHoles++] = {at, scan};
          chain.step = Chain::kPlace;
          __builtin_prefetch(&next[BucketOf(chain.record)], 1);
        }
        ++busy;
      } else if (chain.step == Chain::kPlace) {
        const size_t bucket = BucketOf(chain.record);
        size_t hole = 0;
        while (hole < openHoles && holes[hole].bucket != bucket)
          ++hole;
        // A bucket with no place left to take has a hole for each record
        // of it still carried.
        if (hole == openHoles && next[bucket] < starts[bucket + 1]) {
          chain.to = next[bucket]++;
          chain.step = Chain::kMove;
          // A record may span two cache lines.
          __builtin_prefetch(records_.data() + chain.to * kValueBytes, 1);
          __builtin_prefetch(records_.data() + chain.to * kValueBytes + kValueBytes - 1, 1);
          if (chain.to >= chunkRecords_) {
            __builtin_prefetch(&longerChunks_[chain.to - chunkRecords_]);
          }
        } else {
          PutEntry(holes[hole].at, chain.record, chain.chunk);
          holes[hole] = holes[--openHoles];
          chain.step = Chain::kIdle;
        }
        ++busy;
      } else {
        const uint64_t displaced = RecordAt(chain.to);
        const uint64_t displacedChunk = chunkAt(chain.to);
        PutEntry(chain.to, chain.record, chain.chunk);
        chain.record = displaced;
        chain.chunk = displacedChunk;
        chain.step = Chain::kPlace;
        __builtin_prefetch(&next[BucketOf(chain.record)], 1);
        ++busy;
      }
    }
  }
}

void ChunkIndex::Builder::Finish() {
  const size_t count = records_.size() / kValueBytes;
  // Between 16 and 32 entries a bucket: a look-up reads two or three cache
  // lines of them, and the bucket starts cost little. An entry's tag takes
  // the bits its chunk's number leaves.
  bucketBits_ = kept_ >= 32 ? std::bit_width(kept_ / 16) - 1 : 0;
  tables_.chunkBits = std::max(1, static_cast<int>(std::bit_width(chunkRecords_)));
  const int tagBits = std::min(kValueBits - tables_.chunkBits, kValueBits - 1 - bucketBits_);
  tables_.bucketShift = 64 - bucketBits_;
  tables_.tagShift = tables_.bucketShift - tagBits;
  tables_.tagMask = (uint64_t{1} << tagBits) - 1;
  // Bucket starts; the skipped records form a last bucket, dropped after.
  const size_t buckets = (size_t{1} << bucketBits_) + 1;
  PodBuffer<uint32_t>& starts = tables_.buckets;
  starts.Assign(buckets + 1, 0);
  for (size_t i = 0; i < count; ++i)
    ++starts[BucketOf(RecordAt(i)) + 1];
  for (size_t b = 1; b <= buckets; ++b)
    starts[b] += starts[b - 1];
  PlaceEntries(starts);
  longerChunks_ = {};
  // Within a bucket by tag, then chunk: of equal tags the earliest range is
  // tried first.
  std::vector<uint64_t> values;
  for (size_t b = 0; b + 1 < buckets; ++b) {
    if (progress_ != nullptr && b % kBucketsPerLook == 0 && progress_->StopRequested()) return;
    values.clear();
    for (size_t i = starts[b]; i < starts[b + 1]; ++i)
      values.push_back(RecordAt(i));
    std::sort(values.begin(), values.end());
    for (size_t i = starts[b]; i < starts[b + 1]; ++i)
      WriteValue(records_.data() + i * kValueBytes, values[i - starts[b]]);
  }
  starts.Truncate(buckets);
  records_.Truncate(kept_ * kValueBytes);
  tables_.entries = std::move(records_);
  tables_.entryCount = kept_;
}

ChunkIndex::ChunkIndex(std::span<const uint8_t> data, WorkProgress* progress,
                       const PreparedCuts* prepared)
    : data_(data) {
  if (prepared != nullptr && prepared->index) {
    tables_ = prepared->index;
    longestZeroHashes_ = tables_->longestZeroHashes;
    zeroHashes_ = tables_->zeroHashes;
    return;
  }
  auto tables = std::make_shared<Tables>();
  Builder builder(*this, *tables, progress);
  if (prepared != nullptr) {
    tables->cuts = prepared->cuts;
    CutReplay replay(*prepared, &builder);
    builder.Run(replay, nullptr);
  } else {
    auto cuts = std::make_shared<ChunkCuts>();
    ChunkCutter cutter(data_, &builder);
    builder.Run(cutter, cuts.get());
    tables->cuts = std::move(cuts);
  }
  tables->longestZeroHashes = longestZeroHashes_;
  tables->zeroHashes = zeroHashes_;
  tables_ = std::move(tables);
}

std::shared_ptr<const ChunkCuts> ChunkIndex::cuts() const {
  return tables_->cuts;
}

size_t ChunkIndex::RangeCount() const {
  return tables_->entryCount;
}

size_t ChunkIndex::Tables::MemoryBytes() const {
  return sizeof(*this) + cuts->MemoryBytes() + zeroRuns.MemoryBytes() + keptHashes.MemoryBytes() +
         buckets.MemoryBytes() + entries.MemoryBytes();
}

size_t ChunkIndex::MemoryBytes() const {
  return sizeof(*this) + tables_->MemoryBytes();
}

uint64_t ChunkIndex::Key(uint64_t hash, int64_t len) {
  return hash ^ (static_cast<uint64_t>(len) * 0x9E3779B97F4A7C15ull);
}

bool ChunkIndex::IsZero(int64_t offset, int64_t len) const {
  using ZeroRun = Tables::ZeroRun;
  const PodBuffer<ZeroRun>& zeroRuns = tables_->zeroRuns;
  const ZeroRun* runs = zeroRuns.data();
  const ZeroRun* after =
      std::upper_bound(runs, runs + zeroRuns.size(), offset,
                       [](int64_t at, const ZeroRun& run) { return at < run.start; });
  return after != runs && offset + len <= (after - 1)->end;
}

std::optional<uint64_t> ChunkIndex::ZerosHash(int64_t len, int64_t& hashBudget) const {
  // Ranges of zeros come in few lengths: most are the longest of a level,
  // whose hashes are kept apart so that no other length displaces them.
  ZeroHash* slot = &zeroHashes_[(static_cast<uint64_t>(len) * 0x9E3779B97F4A7C15ull) >> 58];
  for (int level = 0; level <= kTopChunkLevel; ++level) {
    if (len == MaxRangeLength(level)) slot = &longestZeroHashes_[static_cast<size_t>(level)];
  }
  if (slot->len == len) return slot->hash;
  if (hashBudget < len) return std::nullopt;
  hashBudget -= len;
  *slot = {len, ZeroBytesHash(len)};
  return slot->hash;
}

const KeptRangeHash* ChunkIndex::Kept(int64_t offset, int64_t len) const {
  if (len < kKeptHashLength) return nullptr;
  const PodBuffer<KeptRangeHash>& keptHashes = tables_->keptHashes;
  const KeptRangeHash* end = keptHashes.data() + keptHashes.size();
  const KeptRangeHash* kept =
      std::lower_bound(keptHashes.data(), end, KeptRangeHash{offset, len, 0});
  return kept != end && kept->start == offset && kept->len == len ? kept : nullptr;
}

std::optional<uint64_t> ChunkIndex::HashAt(int64_t offset, int64_t len, int64_t& hashBudget) const {
  if (IsZero(offset, len)) return ZerosHash(len, hashBudget);
  if (const KeptRangeHash* kept = Kept(offset, len)) return kept->hash;
  if (hashBudget < len) return std::nullopt;
  hashBudget -= len;
  return RangeHash(data_.subspan(static_cast<size_t>(offset), static_cast<size_t>(len)));
}

bool ChunkIndex::SameBytes(int64_t a, int64_t b, int64_t len, int64_t& hashBudget) const {
  // Short blocks first: different bytes mostly differ at once.
  int64_t block = 64;
  for (int64_t done = 0; done < len; done += block, block = std::min<int64_t>(block * 8, 1 << 16)) {
    const int64_t n = std::min(block, len - done);
    if (hashBudget < n) return false;
    hashBudget -= n;
    if (std::memcmp(data_.data() + a + done, data_.data() + b + done, static_cast<size_t>(n)) !=
        0) {
      return false;
    }
  }
  return true;
}

int64_t ChunkIndex::Find(const RangeCheck& check, int64_t& hashBudget,
                         std::span<const int64_t> shifts) const {
  const auto size = static_cast<int64_t>(data_.size());
  const int64_t len = check.len;
  if (len <= 0 || len > size) return -1;
  const int64_t own = check.start;
  const bool ownFits = own >= 0 && own <= size - len;
  // Whether the own offset holds the bytes: unknown until hashed. Zeros
  // there are known without hashing the data.
  std::optional<bool> ownHolds;
  if (ownFits && IsZero(own, len)) {
    if (const std::optional<uint64_t> zeros = ZerosHash(len, hashBudget)) {
      if (*zeros == check.hash) return own;
      ownHolds = false;
    }
  }
  // The indexed ranges whose tag matches, earliest first. One whose bytes
  // have the fingerprint is answered, unless the own offset holds the same
  // bytes: repeated content (zeros, records) is indexed once, elsewhere.
  const uint64_t key = Key(check.hash, len);
  const Tables& t = *tables_;
  const size_t bucket = t.bucketShift == 64 ? 0 : static_cast<size_t>(key >> t.bucketShift);
  const uint64_t tag = (key >> t.tagShift) & t.tagMask;
  const uint64_t chunkMask = (uint64_t{1} << t.chunkBits) - 1;
  int64_t tried = -1;
  int candidates = 0;
  for (uint32_t e = t.buckets[bucket]; e < t.buckets[bucket + 1] && candidates < kMaxCandidates;
       ++e) {
    const uint64_t entry = ReadValue(t.entries.data() + size_t{e} * kValueBytes);
    if (entry >> t.chunkBits < tag) continue;
    if (entry >> t.chunkBits > tag) break;
    const int64_t offset = t.cuts->Start(static_cast<size_t>(entry & chunkMask));
    if (offset > size - len || offset == tried) continue;
    tried = offset;
    ++candidates;
    if (offset == own && ownHolds.has_value()) continue;
    const std::optional<uint64_t> there = HashAt(offset, len, hashBudget);
    if (offset == own && there) ownHolds = *there == check.hash;
    if (!there || *there != check.hash) continue;
    // Comparing the bytes costs less than hashing the own offset, as they
    // mostly differ at once; past the budget the offset found is answered.
    if (offset != own && ownFits && !ownHolds.has_value() &&
        SameBytes(own, offset, len, hashBudget)) {
      return own;
    }
    return ownFits ? NearestCopy(own, offset, len, hashBudget) : offset;
  }
  if (ownFits && !ownHolds.has_value()) {
    const std::optional<uint64_t> hash = HashAt(own, len, hashBudget);
    if (hash && *hash == check.hash) return own;
  }
  if (candidates > 0) return -1;
  for (size_t i = 0; i < shifts.size(); ++i) {
    const int64_t shifted = own + shifts[i];
    const bool tried = shifts[i] == 0 || std::find(shifts.begin(), shifts.begin() + i, shifts[i]) !=
                                             shifts.begin() + i;
    if (tried || shifted < 0 || shifted > size - len) continue;
    const std::optional<uint64_t> hash = HashAt(shifted, len, hashBudget);
    if (hash && *hash == check.hash) return shifted;
  }
  return -1;
}

// Repeated content is indexed once, at its first place, but a file that
// repeats itself (records, a periodic pattern) is rebuilt from answers that
// follow its own layout: of the chunk starts near `own` whose bytes are those
// at `found`, the nearest. Different bytes mostly differ in their first
// eight, so few are compared in full.
int64_t ChunkIndex::NearestCopy(int64_t own, int64_t found, int64_t len,
                                int64_t& hashBudget) const {
  const auto size = static_cast<int64_t>(data_.size());
  if (found == own || len < 8) return found;
  std::vector<int64_t> near;
  const ChunkCuts& cuts = *tables_->cuts;
  size_t i = cuts.FirstEndingAfter(std::max<int64_t>(own - kNearWindow, 0));
  for (int64_t start = i < cuts.Count() ? cuts.Start(i) : size;
       i < cuts.Count() && start <= own + kNearWindow; start += cuts.Length(i++)) {
    if (start != found && start <= size - len &&
        std::memcmp(data_.data() + start, data_.data() + found, 8) == 0) {
      near.push_back(start);
    }
  }
  found = TryNearest(near, own, found, len, hashBudget).value_or(found);
  return NearerAtAnyOffset(own, found, len, hashBudget);
}

// A copy found further away may be a pattern's, while the peer's file has
// the same pattern nearer `own` at no chunk start (after an insertion of a
// length that is no multiple of the pattern's): any offset nearer will do.
// Nearer places are looked through first, so a short pattern costs a short
// look.
int64_t ChunkIndex::NearerAtAnyOffset(int64_t own, int64_t found, int64_t len,
                                      int64_t& hashBudget) const {
  const int64_t reachMost = std::min(std::abs(found - own) - 1, kNearBytes);
  if (reachMost < kNearShift) return found;
  const size_t needle = static_cast<size_t>(std::min<int64_t>(len, 32));
  const int64_t last = std::min(own + reachMost, static_cast<int64_t>(data_.size()) - len);
  std::vector<int64_t> near = StartsLike(found, needle, own, last, kMostNearTries, hashBudget);
  // Behind: the last few of the nearest reach that holds any.
  const int64_t behindMost = std::max<int64_t>(own - reachMost, 0);
  for (int64_t reach = 256, done = own; done > behindMost; reach *= 8) {
    const int64_t from = std::max(own - reach, behindMost);
    std::vector<int64_t> behind = StartsLike(found, needle, from, done - 1, SIZE_MAX, hashBudget);
    done = from;
    if (behind.empty()) continue;
    const size_t keep = std::min(behind.size(), kMostNearTries);
    near.insert(near.end(), behind.end() - static_cast<ptrdiff_t>(keep), behind.end());
    break;
  }
  return TryNearest(near, own, found, len, hashBudget).value_or(found);
}

// Of the offsets in `near`, the nearest to `own` that holds the bytes at
// `found`, trying a few, nearest first.
std::optional<int64_t> ChunkIndex::TryNearest(std::vector<int64_t>& near, int64_t own,
                                              int64_t found, int64_t len,
                                              int64_t& hashBudget) const {
  std::sort(near.begin(), near.end(),
            [own](int64_t a, int64_t b) { return std::abs(a - own) < std::abs(b - own); });
  for (size_t tried = 0; tried < near.size() && tried < kMostNearTries; ++tried) {
    if (std::abs(near[tried] - own) >= std::abs(found - own)) break;
    if (SameBytes(near[tried], found, len, hashBudget)) return near[tried];
  }
  return std::nullopt;
}

// Starts in [from, to] whose first `needle` bytes are those at `found`, in
// order, at most `most` of them; the bytes looked through count as hashed,
// and none are looked through without the budget for all.
std::vector<int64_t> ChunkIndex::StartsLike(int64_t found, size_t needle, int64_t from, int64_t to,
                                            size_t most, int64_t& hashBudget) const {
  std::vector<int64_t> starts;
  if (to < from || hashBudget < to - from) return starts;
  hashBudget -= to - from;
  const uint8_t* base = data_.data();
  const uint8_t* at = base + from;
  const uint8_t* end = base + to + needle;
  while (starts.size() < most && at < end) {
    const void* hit = ::memmem(at, static_cast<size_t>(end - at), base + found, needle);
    if (hit == nullptr) break;
    at = static_cast<const uint8_t*>(hit);
    if (at - base != found) starts.push_back(at - base);
    ++at;
  }
  return starts;
}

int64_t FoundCode(int64_t found, int64_t start) {
  if (found < 0) return 0;
  return static_cast<int64_t>(
      ZigZag(static_cast<int64_t>(static_cast<uint64_t>(found) - static_cast<uint64_t>(start))) +
      1);
}

int64_t FoundFromCode(int64_t code, int64_t start) {
  if (code <= 0) return -1;
  const int64_t delta = UnZigZag(static_cast<uint64_t>(code - 1));
  const auto found =
      static_cast<int64_t>(static_cast<uint64_t>(start) + static_cast<uint64_t>(delta));
  return found < 0 ? -1 : found;
}

}  // namespace kelpie
