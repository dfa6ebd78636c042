#include "compare/version2_strategy.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_set>

#include "compare/block_list.h"
#include "compare/engine.h"
#include "compare/engine_host.h"
#include "compare/prepared_cuts.h"
#include "compare/zero_bytes.h"

namespace kelpie {
namespace {

// Fewer parts than this that are all missing do not show a region sharing
// nothing: an edit near a cut can spoil two or three neighbours at once.
constexpr int kFewParts = 4;
// A file one part in this many of which was found shares much with the peer's.
constexpr int64_t kSharesMuch = 8;
// Of siblings of this level or higher all missing, one is checked through its
// parts all the same: edits a few kilobytes apart spoil every long range
// while the ranges of the level below are found between them. The others
// follow when it shows this; where nothing is found, a region costs a few
// checks more.
constexpr int kLeastProbedLevel = 2;

// Once the peer's file has shown that it repeats itself, a range found
// further than this from its own offset is checked through its parts.
constexpr int64_t kNearFound = int64_t{64} << 10;
constexpr int64_t kManyRepeats = 8;

// Bytes of ranges hashed for checks in one pass of the loop, at most (and
// one range more): some ten milliseconds.
constexpr int64_t kHashedPerPass = int64_t{64} << 20;
// Until the acceptance is read, a pass hashes less (a millisecond or two),
// so that the acceptance, read at the next pass, times the round trip.
constexpr int64_t kHashedPerPassBeforeAcceptance = int64_t{8} << 20;
// A file this large or larger is cut beside the loop.
constexpr size_t kCutAside = size_t{8} << 20;

// A range of more parts than this has none asked ahead. A range of a few
// dozen parts is common in text and records, where each missed one costs a
// round trip.
constexpr size_t kMostPartsAhead = 64;
// More parts than this are checked in kPartRuns runs first: a round trip
// more for the run with the edit, so on a slow link only for many more.
constexpr size_t kMostParts = 16;
constexpr size_t kMostPartsSlowLink = 256;
constexpr size_t kPartRuns = 16;
// A small chunk this long or longer (content with no cut of its own, cut
// only at its longest) found where other ranges supply the peer's file
// already is checked in pieces of kPiece bytes: the peer's copy of it
// likely holds an edit, which then costs a piece rather than the chunk.
constexpr int64_t kLeastPieced = 2048;
constexpr int64_t kPiece = 512;
// A small chunk this long or longer that is not found, beside a neighbour
// that is, is checked in pieces of kFinePiece bytes: an edit of a few bytes
// or a line then costs a piece or two rather than the chunk. Once kFineTrial
// such pieces were answered (and until then, for at most twice as many), this
// goes on only while at least a third of them are found: where edits are as
// long as chunks, pieces cost checks only.
constexpr int64_t kLeastFinePieced = 256;
constexpr int64_t kFinePiece = 128;
constexpr int64_t kFineTrial = 128;
// Parts answered ahead before their use is judged (until then, at most twice
// as many are asked), and the most that may go to waste for each one used.
constexpr int64_t kAheadTrial = 1024;
constexpr int64_t kAheadWaste = 16;

constexpr char kMismatchLine[] = "Syncronison stopped: the rebuilt file differs from the peer's!";

int64_t RecordValue(const CompareJob& job, const uint8_t* record, BlockField field) {
  return BlockValue(job, record, field);
}

// The range a block record covers.
ChunkRange RangeOf(const CompareJob& job, const uint8_t* record) {
  return {RecordValue(job, record, kBlockStart), RecordValue(job, record, kBlockLen)};
}

// Whether a range was cut at its longest, within a small chunk of the
// longest its level allows: its content has no cut of its own there, as in
// a pattern.
bool CutAtLongest(int level, const ChunkRange& range) {
  return level > 0 && range.len > MaxRangeLength(level) - kMaxChunk;
}

// A new Queued record for range behind the list's current record.
uint8_t* AddRange(CompareJob& job, const ChunkRange& range) {
  RecordList* list = job.blocks.get();
  uint8_t* record = AddRecord(list);
  if (record == nullptr) return nullptr;
  SetRecordLong(list, kBlockState, kQueued);
  SetRecordQuad(list, kBlockStart, range.start);
  SetRecordQuad(list, kBlockLen, range.len);
  return record;
}

void SetValue(CompareJob& job, uint8_t* record, BlockField field, int64_t value) {
  ChangeCurrentRecord(record);
  SetRecordQuad(job.blocks.get(), field, value);
}

}  // namespace

void Version2Strategy::SendStart(CompareJob& job, EngineHost& host, Tables& tables) {
  // The initiator names a version-2 comparison, so it can check ranges
  // before the peer's acceptance arrives.
  job.fileId = NewFileId(tables);
  host.SendCompareStart2(job);
  startSentAt_ = std::chrono::steady_clock::now();
}

bool Version2Strategy::Prepare(CompareJob& job, const Tables&) {
  job.blocks = NewRecordList(kBlockFormat);
  ++job.blocksVersion;
  if (!job.blocks) return false;
  // A file cut when it was offered, and unchanged since, is not cut again.
  const PreparedCuts* prepared = job.loaded ? job.loaded->cuts() : nullptr;
  if (prepared != nullptr || job.data.size() < kCutAside) {
    cuts_ = prepared != nullptr ? prepared->cuts
                                : std::make_shared<const ChunkCuts>(CutChunks(job.data));
    if (!QueueTopRanges(job)) return false;
    job.state = kComparing;
    return true;
  }
  // Cutting a large file takes a while (about half a second a gigabyte):
  // beside the loop, which meanwhile keeps every connection and the window
  // going. CompareStep takes the cuts up.
  const std::span<const uint8_t> data = job.data;
  cutting_ = std::make_unique<BackgroundWork>([this, data](WorkProgress& progress) {
    madeCuts_ = std::make_shared<const ChunkCuts>(CutChunks(data, &progress));
  });
  job.state = kComparing;
  return true;
}

bool Version2Strategy::QueueTopRanges(CompareJob& job) {
  std::vector<ChunkRange> tops =
      RangesOfLevel(*cuts_, kTopChunkLevel, 0, static_cast<int64_t>(job.data.size()));
  if (tops.empty()) tops.push_back({0, 0});  // an empty file is one empty range
  for (const ChunkRange& range : tops) {
    uint8_t* record = AddRange(job, range);
    if (record == nullptr) {
      job.blocks.reset();
      return false;
    }
    queued_.push_back({record, nullptr, kTopChunkLevel});
  }
  open_ = static_cast<int64_t>(queued_.size());
  return true;
}

// On a slow link the parts of a range that is itself a part are checked in
// the same batch: a range that is missing is then known down two levels after
// one round trip, for the price of the checks of parts that turn out found.
std::vector<ChunkRange> Version2Strategy::AheadParts(const Open& range, const ChunkRange& whole,
                                                     bool lookAhead) const {
  if (!lookAhead || range.parent == nullptr || range.level == 0) return {};
  // Parts asked ahead are wasted where their range is found after all; once
  // nearly all of them were (a pattern whose every range is held somewhere),
  // asking ahead costs more checks than the round trips it saves.
  const bool judged = aheadAnswered_ >= kAheadTrial;
  if (judged ? aheadUsed_ * kAheadWaste < aheadAnswered_ : aheadAsked_ >= 2 * kAheadTrial) {
    return {};
  }
  int partLevel = 0;
  std::vector<ChunkRange> parts = PartsOf(*cuts_, range.level, whole, partLevel);
  // Content without cuts of the higher levels (a fill pattern) gives ranges
  // cut only at their longest, of many more parts: asked ahead for every
  // such range, they would cost far more than a round trip.
  if (parts.size() > kMostPartsAhead) parts.clear();
  return parts;
}

bool Version2Strategy::SlowLink() const {
  return roundTripMs_ >= lookAheadRoundTripMs &&
         roundTripMs_ != std::numeric_limits<double>::infinity();
}

bool Version2Strategy::GoesInPieces(const ChunkRange& chunk) const {
  return chunk.len >= kLeastPieced && !SlowLink();
}

bool Version2Strategy::GoesInFinePieces(const ChunkRange& chunk) const {
  const bool trying = finePiecesAnswered_ < kFineTrial && finePiecesAsked_ < 2 * kFineTrial;
  const bool paying =
      finePiecesAnswered_ >= kFineTrial && 3 * finePiecesFound_ >= finePiecesAnswered_;
  return chunk.len >= kLeastFinePieced && !SlowLink() && (trying || paying);
}

int64_t Version2Strategy::SendBatch(CompareJob& job, EngineHost& host, int64_t mostHashed) {
  const bool lookAhead = SlowLink();
  SentBatch batch;
  batch.sentAt = std::chrono::steady_clock::now();
  batch.timed = answered_;
  std::vector<RangeCheck> checks, ahead;
  int64_t hashed = 0;
  const auto check = [&](const ChunkRange& r) {
    hashed += r.len;
    return RangeCheck{r.start, r.len, RangeHash(DataRange(job.data, r.start, r.len))};
  };
  size_t taken = 0;
  for (; taken < queued_.size(); ++taken) {
    const Open& range = queued_[taken];
    const ChunkRange whole = RangeOf(job, range.record);
    std::vector<ChunkRange> parts = AheadParts(range, whole, lookAhead);
    if (taken > 0 && (checks.size() + ahead.size() + 1 + parts.size() > kMaxChecksPerBatch ||
                      hashed >= mostHashed)) {
      break;
    }
    checks.push_back(check(whole));
    for (const ChunkRange& part : parts)
      ahead.push_back(check(part));
    batch.ranges.push_back(range);
    batch.ahead.insert(batch.ahead.end(), parts.begin(), parts.end());
    aheadAsked_ += static_cast<int64_t>(parts.size());
    SetValue(job, range.record, kBlockState, kSent);
  }
  queued_.erase(queued_.begin(), queued_.begin() + static_cast<ptrdiff_t>(taken));
  checks.insert(checks.end(), ahead.begin(), ahead.end());
  const uint32_t number = nextBatch_++;
  sent_[number] = std::move(batch);
  host.SendRangeChecks(job, number, checks);
  return hashed;
}

void Version2Strategy::CompareStep(CompareJob& job, EngineHost& host) {
  if (!job.blocks) return;
  if (cutting_) {
    if (!cutting_->Done()) return;
    cuts_ = std::move(madeCuts_);
    cutting_.reset();
    if (!QueueTopRanges(job)) return;
  }
  if (!queued_.empty()) {
    const auto began = std::chrono::steady_clock::now();
    // The ranges of a large file take a while to hash: a pass hashes a few
    // milliseconds' worth, and the passes after it the rest.
    const int64_t most = peerFile_ ? kHashedPerPass : kHashedPerPassBeforeAcceptance;
    for (int64_t hashed = 0; !queued_.empty() && hashed < most;)
      hashed += SendBatch(job, host, most - hashed);
    if (!peerFile_) {
      longestPassBeforeAcceptance_ =
          std::max(longestPassBeforeAcceptance_, std::chrono::steady_clock::now() - began);
    }
    host.UpdateJobList(kRepaintJobList);
    return;
  }
  if (open_ > 0) return;
  host.AddLog("Comparison finished!");
  host.SendStop(job);
  job.state = kIdle;
}

void Version2Strategy::Accepted(CompareJob& job, int32_t, const PeerFile* peerFile) {
  if (peerFile == nullptr) return;
  // An acceptance sent at once, before the peer reads its file, times a
  // round trip, so the first batches after it already suit the link; a
  // later one only overstates it until a batch is timed. Every pass reads
  // what arrived, so a pass checking ranges meanwhile kept it from being read
  // for at most that pass: the round trip lies between the time taken and
  // that less the longest such pass, and is left to the batches to tell when
  // those two fall on either side of a slow link's.
  using Ms = std::chrono::duration<double, std::milli>;
  const double took = Ms(std::chrono::steady_clock::now() - startSentAt_).count();
  const double least = took - Ms(longestPassBeforeAcceptance_).count();
  if (took < lookAheadRoundTripMs || least >= lookAheadRoundTripMs) {
    roundTripMs_ = std::min(roundTripMs_, least);
  }
  peerFile_ = *peerFile;
  // The peer's file as it was read for this comparison is what is rebuilt.
  if (job.remoteFile) job.remoteFile->size = peerFile->size;
}

int64_t Version2Strategy::Supplied(int64_t at, int64_t len) const {
  const int64_t end = at + len;
  int64_t overlap = 0;
  auto it = supplied_.upper_bound(at);
  if (it != supplied_.begin()) --it;
  for (; it != supplied_.end() && it->first < end; ++it) {
    overlap += std::max<int64_t>(0, std::min(end, it->second) - std::max(at, it->first));
  }
  return overlap;
}

void Version2Strategy::Supply(int64_t at, int64_t len) {
  int64_t start = at, end = at + len;
  auto it = supplied_.upper_bound(at);
  if (it != supplied_.begin() && std::prev(it)->second >= at) --it;
  while (it != supplied_.end() && it->first <= end) {
    start = std::min(start, it->first);
    end = std::max(end, it->second);
    it = supplied_.erase(it);
  }
  supplied_[start] = end;
}

bool Version2Strategy::RepeatsWithin(std::span<const uint8_t> data, const ChunkRange& range) const {
  const std::vector<ChunkRange> chunks =
      RangesOfLevel(*cuts_, 0, range.start, range.start + range.len);
  for (size_t k = 1; k < chunks.size(); ++k) {
    if (chunks[k].len == chunks[0].len &&
        std::memcmp(data.data() + chunks[0].start, data.data() + chunks[k].start,
                    static_cast<size_t>(chunks[0].len)) == 0) {
      return true;
    }
  }
  return false;
}

bool Version2Strategy::IsRepeat(const CompareJob& job, int64_t found, const ChunkRange& whole,
                                int level) {
  if (found < 0) return false;
  const bool split = level > 0 || GoesInPieces(whole);
  // A short chunk, checked in fine pieces, says nothing of whether the file
  // repeats itself.
  const bool fine = !split && GoesInFinePieces(whole);
  const bool elsewhere = found != whole.start && (split || fine) &&
                         !AllZero(DataRange(job.data, whole.start, whole.len));
  // Mostly over what is supplied: edits near a range's ends make some overlap
  // without the file repeating itself.
  if (elsewhere && 2 * Supplied(found, whole.len) > whole.len) {
    if (!fine) ++foundRepeated_;
    return true;
  }
  const bool far = elsewhere && !fine && std::abs(found - whole.start) > kNearFound;
  // Content that repeats within the range is held in many places; the one
  // the peer's index named is no likelier than any other to be this range.
  if (far && RepeatsWithin(job.data, whole)) {
    ++foundRepeated_;
    return true;
  }
  if (far) ++foundFar_;
  // As many as found far away: the file repeats itself, and a copy found far
  // away is likelier not the one the peer's file has there.
  if (far && foundRepeated_ >= kManyRepeats && 2 * foundRepeated_ > foundFar_) return true;
  Supply(found, whole.len);
  return false;
}

// Zeros are found anywhere, and save little: they do not count as found.
void Version2Strategy::CountFinePiece(const CompareJob& job, const Open& piece, int64_t found) {
  ++finePiecesAnswered_;
  const ChunkRange range = RangeOf(job, piece.record);
  const std::span<const uint8_t> bytes = DataRange(job.data, range.start, range.len);
  if (found >= 0 && !AllZero(bytes)) ++finePiecesFound_;
}

std::vector<Version2Strategy::Part> Version2Strategy::SplitOf(const Open& range,
                                                              const ChunkRange& whole, bool repeat,
                                                              bool besideFound) const {
  int partLevel = 0;
  const std::vector<ChunkRange> parts = PartsOf(*cuts_, range.level, whole, partLevel);
  std::vector<Part> split;
  const auto pieces = [&](int64_t piece, bool fine) {
    for (int64_t at = whole.start; at < whole.start + whole.len; at += piece)
      split.push_back({{at, std::min(piece, whole.start + whole.len - at)}, 0, fine});
    return split;
  };
  if (parts.empty() && repeat && GoesInPieces(whole)) return pieces(kPiece, false);
  // A long chunk goes in coarse pieces first, so that only those beside the
  // edit go finer.
  if (parts.empty() && besideFound && GoesInFinePieces(whole)) {
    return pieces(whole.len > kLeastPieced ? kPiece : kFinePiece, true);
  }
  if (parts.size() <= (SlowLink() ? kMostPartsSlowLink : kMostParts)) {
    for (const ChunkRange& part : parts)
      split.push_back({part, partLevel});
    return split;
  }
  // The first part goes alone: the peer's index holds it, and where it is
  // found shows the peer where to look for the runs behind it, which its
  // index does not hold. A run's ends are cuts of the parts' level, so one
  // level above them its parts are those parts again.
  split.push_back({parts[0], partLevel, false, true});
  const size_t perRun = (parts.size() - 1 + kPartRuns - 1) / kPartRuns;
  for (size_t first = 1; first < parts.size(); first += perRun) {
    const ChunkRange& last = parts[std::min(parts.size(), first + perRun) - 1];
    const ChunkRange run{parts[first].start, last.start + last.len - parts[first].start};
    split.push_back({run, run.len == parts[first].len ? partLevel : partLevel + 1, false, true});
  }
  return split;
}

void Version2Strategy::Settle(CompareJob& job, const Open& range, int64_t found,
                              bool parentFoundSome, const KnownAnswers& known,
                              std::optional<bool> repeated, bool besideFound) {
  const ChunkRange whole = RangeOf(job, range.record);
  // Found elsewhere, over a part of the peer's file another range supplies
  // already (a file that repeats itself): its parts may each be found where
  // they supply more.
  const bool repeat = repeated ? *repeated : IsRepeat(job, found, whole, range.level);
  if (repeat) found = -1;
  SetValue(job, range.record, kBlockFound, found);
  std::vector<Part> parts;
  if (found >= 0) foundBytes_ += whole.len;
  // Content cut only at the longest ranges (a pattern without cuts of its
  // own) has few parts, each long enough to hold an edit: all of them
  // missing does not show a region sharing nothing. Nor do the first part
  // and the runs behind it in a file that shares much: the peer finds a run
  // only where the content around it was found, so where the first part was
  // not (a moved block starting in it) it finds none, though it may hold
  // their parts.
  const bool cutAtLongest = CutAtLongest(range.level, whole);
  const bool sharedRun = range.amongRuns && foundBytes_ * kSharesMuch >= std::ssize(job.data);
  if (found < 0 &&
      (range.parent == nullptr || parentFoundSome || repeat || cutAtLongest || sharedRun)) {
    parts = SplitOf(range, whole, repeat, besideFound);
  }
  --open_;
  if (parts.empty()) {
    SetValue(job, range.record, kBlockState, kSettled);
    return;
  }
  SplitInto(job, range, parts, known, repeat || parts.size() < kFewParts);
}

void Version2Strategy::SplitInto(CompareJob& job, const Open& range, const std::vector<Part>& parts,
                                 const KnownAnswers& known, bool partFound) {
  SetValue(job, range.record, kBlockState, kSplit);
  for (const Part& part : parts) {
    auto answer = known.find(part.range.start);
    if (answer != known.end() && answer->second.first == part.range.len &&
        answer->second.second >= 0) {
      partFound = true;
    }
  }
  // Each part goes behind the one before it, so the parts follow their range
  // in file order. Parts already answered ahead are settled at once.
  for (const Part& split : parts) {
    const ChunkRange& part = split.range;
    uint8_t* record = AddRange(job, part);
    if (record == nullptr) break;
    ++open_;
    const Open open{record, range.record, split.level, split.finePiece, split.amongRuns};
    if (split.finePiece) ++finePiecesAsked_;
    auto answer = known.find(part.start);
    if (answer != known.end() && answer->second.first == part.len) {
      ++aheadUsed_;
      Settle(job, open, answer->second.second, partFound, {}, std::nullopt, false);
      ChangeCurrentRecord(record);
      // Whatever Settle added goes before the next part.
      while (const uint8_t* next = PeekNextRecord(record)) {
        if (BlockValue(job, next, kBlockStart) >= part.start + part.len) break;
        record = const_cast<uint8_t*>(next);
      }
      ChangeCurrentRecord(record);
    } else {
      queued_.push_back(open);
    }
  }
}

// A range whose part was found shares content: its siblings that were all
// missing beside it, left unsplit, are checked through their parts too.
void Version2Strategy::ReleaseSiblings(CompareJob& job, const uint8_t* probe) {
  auto it = waitingSiblings_.find(probe);
  if (it == waitingSiblings_.end()) return;
  const std::vector<Open> siblings = std::move(it->second);
  waitingSiblings_.erase(it);
  for (const Open& sibling : siblings) {
    const ChunkRange whole = RangeOf(job, sibling.record);
    const std::vector<Part> parts = SplitOf(sibling, whole, false, false);
    if (!parts.empty()) SplitInto(job, sibling, parts, {}, false);
  }
}

// Whether b is the sibling right behind a.
bool Version2Strategy::Beside(const CompareJob& job, const Open& a, const Open& b) {
  const ChunkRange first = RangeOf(job, a.record);
  return a.parent == b.parent && first.start + first.len == RecordValue(job, b.record, kBlockStart);
}

bool Version2Strategy::StrayCopy(const CompareJob& job, std::span<const Open> ranges,
                                 std::span<const int64_t> found, size_t i) const {
  const auto shift = [&](size_t k) {
    return found[k] - RecordValue(job, ranges[k].record, kBlockStart);
  };
  // Checking the range through its parts costs a round trip more: on a slow
  // link the copy is taken.
  if (SlowLink() || ranges[i].level == 0 || found[i] < 0 || shift(i) == 0) return false;
  bool sideFound = false;
  for (const size_t j : {i + 1, i - 1}) {
    if (j >= ranges.size() || found[j] < 0 ||
        !Beside(job, ranges[std::min(i, j)], ranges[std::max(i, j)])) {
      continue;
    }
    if (shift(j) == shift(i)) return false;
    sideFound = true;
  }
  const ChunkRange whole = RangeOf(job, ranges[i].record);
  // Zeros are left to the peer's own tests for them.
  return sideFound && !AllZero(DataRange(job.data, whole.start, kMinChunk)) &&
         RepeatsWithin(job.data, whole);
}

int32_t Version2Strategy::ApplyAnswers(CompareJob& job, uint32_t batch,
                                       std::span<const int64_t> found, const Tables&) {
  auto it = sent_.find(batch);
  if (it == sent_.end() || it->second.ranges.size() + it->second.ahead.size() != found.size()) {
    return 0;
  }
  const SentBatch sent = std::move(it->second);
  sent_.erase(it);
  aheadAnswered_ += std::ssize(sent.ahead);
  answered_ = true;
  if (sent.timed) {
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - sent.sentAt;
    roundTripMs_ = std::min(roundTripMs_, took.count());
  }
  const int64_t peerSize = job.remoteFile ? job.remoteFile->size : 0;
  // An offset the peer's file cannot hold a range at counts as not found.
  const auto decode = [peerSize](int64_t code, int64_t start, int64_t len) {
    const int64_t at = FoundFromCode(code, start);
    return at > peerSize - len || len <= 0 ? -1 : at;
  };
  const size_t count = sent.ranges.size();
  KnownAnswers known;
  for (size_t i = 0; i < sent.ahead.size(); ++i) {
    const ChunkRange& part = sent.ahead[i];
    known[part.start] = {part.len, decode(found[count + i], part.start, part.len)};
  }
  // A parent whose parts were found in places (in this batch or an earlier
  // one: a full batch may part siblings), or that has only a few parts, is
  // worth checking finer; many parts none of which is found are not.
  std::unordered_map<const uint8_t*, int> partsAsked;
  std::unordered_set<const uint8_t*> partlyFound;
  std::unordered_set<const uint8_t*> longestUnder;
  std::vector<int64_t> checked(count);
  for (size_t i = 0; i < count; ++i) {
    const Open& range = sent.ranges[i];
    const ChunkRange whole = RangeOf(job, range.record);
    checked[i] = decode(found[i], whole.start, whole.len);
    ++partsAsked[range.parent];
    // Content cut only at its longest goes on to the parent's last part,
    // which is shorter but as likely to hold only some of a few edits.
    if (CutAtLongest(range.level, whole)) longestUnder.insert(range.parent);
    if (checked[i] >= 0) {
      foundUnder_.insert(range.parent);
      ReleaseSiblings(job, range.parent);
    }
  }
  for (const auto& [parent, asked] : partsAsked) {
    if (asked < kFewParts || foundUnder_.contains(parent) || longestUnder.contains(parent)) {
      partlyFound.insert(parent);
    }
  }
  // Of ranges found over the same part of the peer's file, the one found
  // nearest its own offset supplies it: in a file that repeats itself, that
  // is the one where the peer's file has it.
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  const auto distance = [&](size_t i) {
    return std::abs(checked[i] - RecordValue(job, sent.ranges[i].record, kBlockStart));
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return distance(a) < distance(b); });
  std::vector<bool> repeat(count, false);
  for (const size_t i : order) {
    const ChunkRange whole = RangeOf(job, sent.ranges[i].record);
    if (checked[i] < 0) continue;
    repeat[i] = StrayCopy(job, sent.ranges, checked, i) ||
                IsRepeat(job, checked[i], whole, sent.ranges[i].level);
  }
  // A neighbour is a sibling checked beside it in this batch and found.
  const auto foundBeside = [&](size_t i, size_t j) {
    return j < count && Beside(job, sent.ranges[std::min(i, j)], sent.ranges[std::max(i, j)]) &&
           checked[j] >= 0 && !repeat[j];
  };
  // Of long siblings all missing, one is checked through its parts anyway;
  // the others wait for what it shows. The one checked, by parent:
  std::unordered_map<const uint8_t*, const uint8_t*> probes;
  for (size_t i = 0; i < count; ++i) {
    const Open& range = sent.ranges[i];
    if (range.finePiece) CountFinePiece(job, range, checked[i]);
    const bool besideFound = (i > 0 && foundBeside(i, i - 1)) || foundBeside(i, i + 1);
    const bool partly = partlyFound.contains(range.parent);
    const bool probed = !partly && checked[i] < 0 && !repeat[i] && range.parent != nullptr &&
                        range.level >= kLeastProbedLevel && !SlowLink();
    const bool probe = probed && probes.emplace(range.parent, range.record).second;
    Settle(job, range, checked[i], partly || probe, known, repeat[i], besideFound);
    if (probed && !probe && RecordValue(job, range.record, kBlockState) == kSettled) {
      waitingSiblings_[probes[range.parent]].push_back(range);
    }
  }
  ++job.blocksVersion;
  return 1;
}

// Short passes of copying: the answers to the Gets of a pass are taken soon,
// so the hash of the rebuilt file, which waits for them, keeps moving.
SyncPacing Version2Strategy::Pacing() const {
  return SyncPacing{64, kMaxGetLength2, int64_t{16} << 20, 4096, int64_t{2} << 20, true};
}

void Version2Strategy::RequestRange(CompareJob& job, EngineHost& host, uint32_t request,
                                    int64_t offset, int64_t len) {
  host.SendRangeGet(job, request, offset, len);
}

std::optional<PartialIdentity> Version2Strategy::RebuildIdentity() const {
  if (!peerFile_) return std::nullopt;
  return PartialIdentity{peerFile_->size, peerFile_->hash};
}

bool Version2Strategy::AcceptRebuilt(RebuildFile& rebuilt, EngineHost& host) const {
  if (peerFile_ && rebuilt.size() == peerFile_->size && rebuilt.Sha256() == peerFile_->hash) {
    return true;
  }
  host.AddLog(kMismatchLine);
  return false;
}

}  // namespace kelpie
