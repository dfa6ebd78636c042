#pragma once

#include <chrono>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compare/background_work.h"
#include "compare/comparison_strategy.h"
#include "compare/content_chunks.h"

namespace kelpie {

// Most checks in one batch: even at their longest encoding they fit one frame.
// (12 fixed bytes, each entry at most 10 + 9 + 8 bytes).
inline constexpr size_t kMaxChecksPerBatch = 1200;
// Largest version-2 Get; the answer comes in pieces of one frame each.
inline constexpr int64_t kMaxGetLength2 = int64_t{1} << 20;

// Version 2: the local file is cut where its content says (content_chunks.h)
// and checked from its largest ranges down. All open checks go out at once
// in batches, so a whole level costs one round trip; on a slow link a part
// goes with its own parts, so a missing part is known two levels down after
// that trip. A range found anywhere
// is settled whole; one not found is replaced by its parts one level down,
// unless it is a part whose siblings were not found either: that region
// plainly shares nothing, and checking it finer would only cost checks.
// Synchronisation keeps many large Gets in flight, and the rebuilt file is
// saved only when its SHA-256 is the one the peer sent with its acceptance.
class Version2Strategy : public ComparisonStrategy {
 public:
  // Parts are asked ahead only where a round trip costs more than the bytes
  // of the extra checks would: on a link of at least this many milliseconds.
  // Tests lower it to reach asking ahead over loopback.
  static inline double lookAheadRoundTripMs = 10;

  void SendStart(CompareJob& job, EngineHost& host, Tables& tables) override;
  bool Prepare(CompareJob& job, const Tables& tables) override;
  void CompareStep(CompareJob& job, EngineHost& host) override;
  bool MoreToSend() const override { return !queued_.empty() && !cutting_; }
  void Accepted(CompareJob& job, int32_t fileId, const PeerFile* peerFile) override;
  int32_t ApplyAnswers(CompareJob& job, uint32_t batch, std::span<const int64_t> found,
                       const Tables& tables) override;
  SyncPacing Pacing() const override;
  void RequestRange(CompareJob& job, EngineHost& host, uint32_t request, int64_t offset,
                    int64_t len) override;
  bool HashesRebuilt() const override { return true; }
  bool AcceptRebuilt(RebuildFile& rebuilt, EngineHost& host) const override;
  std::optional<PartialIdentity> RebuildIdentity() const override;

 private:
  // A range waiting for its check or its answer.
  struct Open {
    uint8_t* record = nullptr;
    uint8_t* parent = nullptr;  // null for a top-level range
    int level = 0;
    bool finePiece = false;  // a piece of a small chunk not found
    bool amongRuns = false;  // the first part or a run of a range checked in runs
  };
  // A range that a range not found is checked through, and its level: a run
  // of parts has the level above them, so that its parts are those parts.
  struct Part {
    ChunkRange range;
    int level = 0;
    bool finePiece = false;
    bool amongRuns = false;
  };
  // Checks sent in one message: the open ranges, then the parts of some of
  // them asked ahead.
  struct SentBatch {
    std::vector<Open> ranges;
    std::vector<ChunkRange> ahead;
    std::chrono::steady_clock::time_point sentAt;
    bool timed = false;  // sent once the peer was ready, so its round trip counts
  };
  // Answers to parts asked ahead, by start: length and found offset.
  using KnownAnswers = std::unordered_map<int64_t, std::pair<int64_t, int64_t>>;

  std::vector<ChunkRange> AheadParts(const Open& range, const ChunkRange& whole,
                                     bool lookAhead) const;
  // Whether batches have taken lookAheadRoundTripMs or more to be answered.
  bool SlowLink() const;
  // Whether a small chunk found only over what other ranges supply is
  // checked in pieces: one long enough, on a fast link.
  bool GoesInPieces(const ChunkRange& chunk) const;
  // Sends one batch of the queued ranges, ending it once mostHashed bytes
  // were hashed; the bytes it hashed.
  int64_t SendBatch(CompareJob& job, EngineHost& host, int64_t mostHashed);
  // The level-3 ranges of the cut file, queued; false without the memory.
  bool QueueTopRanges(CompareJob& job);
  // What a range not found is checked through: its parts (PartsOf) or, when
  // they are many (content cut only at its longest, such as a fill
  // pattern), runs of them, so that an edit among a thousand parts costs
  // a few dozen checks rather than a check of every part. A long small
  // chunk found only over what others supply (`repeat`) goes in pieces, and
  // so does one not found beside a neighbour that was (`besideFound`).
  std::vector<Part> SplitOf(const Open& range, const ChunkRange& whole, bool repeat,
                            bool besideFound) const;
  // Whether a small chunk not found beside one that was goes in fine pieces:
  // one long enough, on a fast link, while such pieces mostly turn out found.
  bool GoesInFinePieces(const ChunkRange& chunk) const;
  void CountFinePiece(const CompareJob& job, const Open& piece, int64_t found);
  // `repeated` says whether found is over a part of the peer's file already
  // supplied; unknown, it is found out (and claimed) here.
  void Settle(CompareJob& job, const Open& range, int64_t found, bool parentFoundSome,
              const KnownAnswers& known, std::optional<bool> repeated, bool besideFound);
  // Whether a range found at `found` is better checked through its parts:
  // found elsewhere, mostly over a part of the peer's file supplied already
  // (the file repeats itself), or far from its own offset when its content
  // repeats within it or once the file has shown that it repeats itself.
  // Zeros are zeros wherever they are found.
  // Records what it supplies otherwise.
  bool IsRepeat(const CompareJob& job, int64_t found, const ChunkRange& whole, int level);
  // Marks range split and queues its parts behind it, settling those the
  // peer answered ahead at once.
  void SplitInto(CompareJob& job, const Open& range, const std::vector<Part>& parts,
                 const KnownAnswers& known, bool partFound);
  // Splits the siblings that waited on `probe`, a part of which was found.
  void ReleaseSiblings(CompareJob& job, const uint8_t* probe);
  static bool Beside(const CompareJob& job, const Open& a, const Open& b);
  // Whether ranges[i], found at another shift than the siblings found
  // beside it in its batch, is found at a copy rather than where the peer's
  // file has it: in content that repeats within the range (a pattern,
  // records) the peer holds those bytes in many places, and the one named
  // says nothing of a shift there.
  bool StrayCopy(const CompareJob& job, std::span<const Open> ranges,
                 std::span<const int64_t> found, size_t i) const;
  // Whether a small chunk of the range comes again inside it.
  bool RepeatsWithin(std::span<const uint8_t> data, const ChunkRange& range) const;
  // How much of [at, at + len) of the peer's file ranges found earlier
  // supply, and the record of it.
  int64_t Supplied(int64_t at, int64_t len) const;
  void Supply(int64_t at, int64_t len);

  // The shortest round trip of a batch sent once an earlier batch was
  // answered, so the peer had its index and answers at once; infinite until
  // one is known. (The first batches wait for the peer to read its file.)
  double roundTripMs_ = std::numeric_limits<double>::infinity();
  bool answered_ = false;
  std::chrono::steady_clock::time_point startSentAt_{};
  // The longest of this job's passes checking before the acceptance was read.
  std::chrono::steady_clock::duration longestPassBeforeAcceptance_{};
  std::shared_ptr<const ChunkCuts> cuts_;  // shared with the file's prepared cuts
  std::vector<Open> queued_;
  std::unordered_map<uint32_t, SentBatch> sent_;  // by batch number
  uint32_t nextBatch_ = 1;
  int64_t open_ = 0;  // ranges queued or sent
  std::optional<PeerFile> peerFile_;
  std::map<int64_t, int64_t> supplied_;            // parts of the peer's file found: start to end
  std::unordered_set<const uint8_t*> foundUnder_;  // ranges a part of which was found
  // Missing siblings left unsplit, by the sibling checked through its parts.
  std::unordered_map<const uint8_t*, std::vector<Open>> waitingSiblings_;
  int64_t foundBytes_ = 0;     // bytes of the ranges found
  int64_t foundFar_ = 0;       // ranges found far from their own offset
  int64_t foundRepeated_ = 0;  // ranges found where another copy is as likely
  int64_t aheadAsked_ = 0;     // parts asked ahead
  int64_t aheadAnswered_ = 0;  // of them, parts answered
  int64_t aheadUsed_ = 0;      // of them, parts of ranges that were not found
  int64_t finePiecesAsked_ = 0;
  int64_t finePiecesAnswered_ = 0;
  int64_t finePiecesFound_ = 0;  // not counting pieces of zeros
  // A large file's cuts while they are made beside the loop (last, so the
  // work stops before what it writes goes).
  std::shared_ptr<const ChunkCuts> madeCuts_;
  std::unique_ptr<BackgroundWork> cutting_;
};

}  // namespace kelpie
