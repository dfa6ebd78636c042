#include <algorithm>
#include <array>
#include <climits>
#include <string>

#include "compare/block_list.h"
#include "compare/engine.h"
#include "compare/sync.h"
#include "compare/version2_strategy.h"
#include "protocol/file_lists.h"
#include "protocol/message_context.h"
#include "protocol/messages.h"
#include "protocol/messages_v2.h"
#include "protocol/prepared_responders.h"

// The messages only version-2 connections carry. The responder answers a
// start with the size and SHA-256 of the data it loaded, a batch of checks
// with one offset per range, and a Get with pieces of one frame each, a run
// of zeros being named rather than sent. Every message is logged as one line,
// as the first version's are.

namespace kelpie {
namespace {

// Bytes one batch of checks may hash at the ranges' own offsets; past it
// answers come from the index alone, so no message holds the loop for long.
constexpr int64_t kCheckHashBudget = int64_t{256} << 20;
// Ranges a job keeps while its file is prepared, at most (24 bytes each).
constexpr size_t kMostWaitingRanges = size_t{1} << 20;

std::string Number(int64_t value) {
  return std::to_string(value);
}

void OnFileAdd(MessageContext& c) {
  auto add = ReadV2FileAdd(c.payload);
  if (!add) return c.Malformed("FileList_Add");
  c.Log("'FileList_Add' (NetVersion 2) " + add->path);
  RecordRemoteFile(c.state, c.host, *add, c.sender.peer);
}

void OnStart(MessageContext& c) {
  auto start = ReadV2Start(c.payload);
  if (!start) return c.Malformed("Compare_Start");
  c.Log("'Compare_Start' (NetVersion 2) Job:" + Number(start->job) + " " + start->path);
  // A file unchanged since it was offered is accepted before it is read, with
  // the size and SHA-256 taken then: the initiator learns the round trip
  // from it, and both sides read their files at the same time.
  const FileEntry* listed = FindLocalFile(c.state.tables, start->path);
  const bool early =
      listed != nullptr && listed->modified >= 0 && FileModified(listed->path) == listed->modified;
  if (early) c.Answer(BuildV2Accept({kAccepted, start->job, listed->size, listed->sha256}));
  Acceptance accepted = AcceptComparison(c.state.tables, start->path, c.sender.peer);
  if (accepted.job == nullptr) {
    // Also after an early acceptance: the initiator then gives the job up.
    const uint8_t result = accepted.error == kNotListed ? kAcceptNotListed : kAcceptCannotOpen;
    return c.Answer(BuildV2Accept({result, start->job, 0, {}}));
  }
  CompareJob& job = *accepted.job;
  job.fileId = static_cast<int32_t>(start->job);
  // Every job on the file shares its SHA-256 and index, made beside the main
  // loop; the acceptance and the answers follow once they are ready
  // (AnswerPreparedResponders).
  job.preparing = true;
  job.acceptancePending = !early;
  c.host.UpdateJobList(kRebuildJobList);
}

uint32_t JobNumber(const CompareJob& job) {
  return static_cast<uint32_t>(job.fileId);
}

// A range whose bytes at its own offset were hashed while the index was
// being built, with the check's hash, is found there: the index would answer
// the same, as the own offset wins.
void AnswerChecks(PeerState& state, ProtocolHost& host, CompareJob& job, uint32_t batch,
                  std::span<const RangeCheck> checks,
                  std::span<const std::optional<uint64_t>> ownHashes = {}) {
  if (!checks.empty()) {
    job.position = std::max<int64_t>(checks[0].start, 0);
    host.UpdateJobList(kRepaintJobList);
  }
  int64_t budget = kCheckHashBudget;
  std::vector<int64_t> found;
  found.reserve(checks.size());
  for (size_t i = 0; i < checks.size(); ++i) {
    const RangeCheck& range = checks[i];
    const bool ownHolds = i < ownHashes.size() && ownHashes[i] == range.hash;
    const std::array<int64_t, 3> shifts = job.foundShifts.Around(range.start);
    // A run of parts is tried at the latest shift alone: at the shifts around
    // it, a pattern's run would be found at another copy.
    const size_t tries = range.len <= kMaxChunk ? shifts.size() : 1;
    const int64_t at = ownHolds
                           ? range.start
                           : job.chunkIndex->Find(range, budget, std::span(shifts).first(tries));
    if (at >= 0) job.foundShifts.Record(range.start, at - range.start);
    found.push_back(FoundCode(at, range.start));
  }
  SendMessage(state, JobConnection(state, job), BuildV2CheckAnswer(JobNumber(job), batch, found));
}

// Keeps checks until the job's file is ready; past what a job keeps, they
// are answered as not found (sound: those bytes are fetched), or, while even
// the acceptance waits and must go first, dropped with a log line.
void KeepWaiting(MessageContext& c, CompareJob& job, V2CheckMessage& check) {
  if (job.waitingRanges + check.checks.size() <= kMostWaitingRanges) {
    job.waitingRanges += check.checks.size();
    job.waitingChecks.push_back({check.batch, std::move(check.checks), {}});
    return;
  }
  if (job.acceptancePending) return c.Log("Too many checks while the file is prepared, dropped");
  const std::vector<int64_t> nowhere(check.checks.size(), FoundCode(-1, 0));
  c.Answer(BuildV2CheckAnswer(check.job, check.batch, nowhere));
}

void OnCheck(MessageContext& c) {
  auto check = ReadV2Check(c.payload);
  if (!check) return c.Malformed("Compare_Check");
  c.Log("'Compare_Check' Job:" + Number(check->job) + " Batch:" + Number(check->batch) +
        " Ranges:" + Number(std::ssize(check->checks)));
  ForEachResponderJob(c, static_cast<int32_t>(check->job), [&](CompareJob& job) {
    if (job.preparing) return KeepWaiting(c, job, *check);
    if (job.chunkIndex) AnswerChecks(c.state, c.host, job, check->batch, check->checks);
  });
}

// While the index is built beside the loop, the loop itself hashes the
// waiting ranges at their own offsets, as far as the pass has time: most
// ranges of a file much like the peer's are found there, and are then
// answered as soon as the index is ready.
void HashWaitingRanges(const PeerState& state, CompareJob& job) {
  const auto size = static_cast<int64_t>(job.data.size());
  for (WaitingChecks& waiting : job.waitingChecks) {
    while (waiting.ownHashes.size() < waiting.ranges.size()) {
      if (!state.PassTimeLeft()) return;
      const RangeCheck& range = waiting.ranges[waiting.ownHashes.size()];
      const bool fits = range.start >= 0 && range.len > 0 && range.start <= size - range.len;
      waiting.ownHashes.push_back(
          fits ? std::optional(RangeHash(DataRange(job.data, range.start, range.len)))
               : std::nullopt);
    }
  }
}

// Answers the oldest batch of checks that waited for the file.
void AnswerFrontBatch(PeerState& state, ProtocolHost& host, CompareJob& job) {
  const WaitingChecks waiting = std::move(job.waitingChecks.front());
  job.waitingChecks.pop_front();
  job.waitingRanges -= waiting.ranges.size();
  AnswerChecks(state, host, job, waiting.batch, waiting.ranges, waiting.ownHashes);
}

bool HeldAtOwnOffsets(const WaitingChecks& waiting) {
  if (waiting.ownHashes.size() < waiting.ranges.size()) return false;
  for (size_t i = 0; i < waiting.ranges.size(); ++i) {
    if (waiting.ownHashes[i] != waiting.ranges[i].hash) return false;
  }
  return true;
}

// One pass over a preparing job: what became ready goes out, the acceptance
// first, then the waiting checks while the pass has time (answering every
// job's checks at once, as the file becomes ready for all of them together,
// would hold the loop); until everything is out, the job's bar shows how
// far the work got. answered: whether this pass has answered a batch yet.
void StepPreparingJob(PeerState& state, ProtocolHost& host, CompareJob& job, bool& answered) {
  LoadedFile& file = *job.loaded;
  if (job.acceptancePending) {
    if (const WholeFileHash* hash = file.ReadySha256()) {
      const V2AcceptMessage accept{kAccepted, JobNumber(job), static_cast<int64_t>(job.data.size()),
                                   *hash};
      SendMessage(state, JobConnection(state, job), BuildV2Accept(accept));
      job.acceptancePending = false;
    }
  }
  if (!job.chunkIndex) job.chunkIndex = file.ReadyChunkIndex();
  if (job.acceptancePending || !job.chunkIndex) {
    HashWaitingRanges(state, job);
    // A batch found whole at its own offsets needs no index: it goes now.
    while (!job.acceptancePending && !job.waitingChecks.empty() &&
           HeldAtOwnOffsets(job.waitingChecks.front())) {
      AnswerFrontBatch(state, host, job);
    }
    const int64_t prepared = file.PreparedBytes();
    if (prepared != job.position) {
      job.position = prepared;
      host.UpdateJobList(kRepaintJobList);
    }
    return;
  }
  if (job.waitingChecks.empty()) {
    job.position = 0;
    host.UpdateJobList(kRepaintJobList);
  }
  while (!job.waitingChecks.empty() && (!answered || state.PassTimeLeft())) {
    AnswerFrontBatch(state, host, job);
    answered = true;
  }
  job.preparing = !job.waitingChecks.empty();
}

// Runs of zeros at least this long go as zero pieces, not as bytes: a zero
// piece and the data piece after it cost two headers, far less than the run.
constexpr size_t kMinZeroRun = 128;

// Length of the piece at the front of bytes: a zero run of kMinZeroRun or
// more whole, else data up to the next such run or one frame's worth.
std::pair<size_t, bool> NextPiece(std::span<const uint8_t> bytes) {
  const size_t most = std::min(bytes.size(), MaxV2DataBytes());
  size_t run = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    run = bytes[i] == 0 ? run + 1 : 0;
    if (run == kMinZeroRun && i + 1 == run) {
      while (run < bytes.size() && bytes[run] == 0)
        ++run;
      return {run, true};
    }
    if (run == kMinZeroRun) return {i + 1 - run, false};
    if (i + 1 == most) return {most, false};
  }
  return {bytes.size(), run == bytes.size()};
}

// Sends [offset, offset + len) of data in pieces of one frame, then, when the
// data ends first, an empty piece where it ends.
void Serve(MessageContext& c, const V2GetMessage& get, CompareJob& job) {
  const int64_t len = std::min(get.len, kMaxGetLength2);
  std::span<const uint8_t> bytes = DataRange(job.data, get.offset, len);
  // A file that shrank under the job has no bytes to give.
  if (job.loaded && !job.loaded->view->Intact(bytes)) {
    FileChangedUnder(job, c.host);
    bytes = {};
  }
  int64_t at = get.offset;
  while (!bytes.empty()) {
    auto [size, zeros] = NextPiece(bytes);
    c.Answer(BuildV2Data(get.job, get.request, at, static_cast<int64_t>(size),
                         zeros ? std::span<const uint8_t>() : bytes.first(size)));
    bytes = bytes.subspan(size);
    at += static_cast<int64_t>(size);
  }
  if (at - get.offset < get.len) c.Answer(BuildV2Data(get.job, get.request, at, 0, {}));
}

void OnGet(MessageContext& c) {
  auto get = ReadV2Get(c.payload);
  if (!get) return c.Malformed("Compare_Get");
  c.Log("'Compare_Get' Job:" + Number(get->job) + " start:" + Number(get->offset) +
        " len:" + Number(get->len));
  ForEachResponderJob(c, static_cast<int32_t>(get->job),
                      [&](CompareJob& job) { Serve(c, *get, job); });
}

std::string RefusalText(uint8_t result) {
  return result == kAcceptNotListed ? " refused: not listed" : " refused: couldn't open file!";
}

void OnAccept(MessageContext& c) {
  auto accept = ReadV2Accept(c.payload);
  if (!accept) return c.Malformed("Compare_Accept");
  const bool fits = accept->size >= 0;
  std::string line = "'Compare_Accept' Job:" + Number(accept->job);
  if (accept->result != kAccepted) {
    line += RefusalText(accept->result);
  } else {
    line += " Size:" + Number(accept->size);
    if (!fits) line += " refused: the size is negative";
  }
  c.Log(line);
  ForEachInitiatorJob(c, static_cast<int32_t>(accept->job), [&](CompareJob& job) {
    if (job.state != kComparing) return;
    if (accept->result != kAccepted || !fits) {
      // As with a refused first-version start, the job waits for good.
      job.state = kRequested;
    } else {
      const PeerFile file{accept->size, accept->hash};
      StrategyOf(job).Accepted(job, job.fileId, &file);
    }
    c.host.UpdateJobList(kRebuildJobList);
  });
}

void OnCheckAnswer(MessageContext& c) {
  auto answer = ReadV2CheckAnswer(c.payload);
  if (!answer) return c.Malformed("Compare_CheckAnswer");
  c.Log("'Compare_CheckAnswer' Job:" + Number(answer->job) + " Batch:" + Number(answer->batch) +
        " Ranges:" + Number(std::ssize(answer->found)));
  if (ApplyCheckAnswers(c.state.tables, c.sender.peer, static_cast<int32_t>(answer->job),
                        answer->batch, answer->found) == 1) {
    c.host.UpdateJobList(kRepaintJobList);
  }
}

void OnData(MessageContext& c) {
  auto data = ReadV2Data(c.payload);
  if (!data) return c.Malformed("Compare_Data");
  c.Log("'Compare_Data' Job:" + Number(data->job) + " Position:" + Number(data->offset) +
        " Len:" + Number(data->len));
  const RangePiece piece{data->request, data->offset, data->len, data->zeros, data->bytes};
  ForEachInitiatorJob(c, static_cast<int32_t>(data->job), [&](CompareJob& job) {
    if (StoreRangePiece(job, c.host, piece)) c.host.UpdateJobList(kRepaintJobList);
  });
}

}  // namespace

void AnswerPreparedResponders(PeerState& state, ProtocolHost& host) {
  bool answered = false;
  WalkTable(state.tables.CompareJobs, [&](CompareJob& job) {
    if (job.preparing && job.loaded) StepPreparingJob(state, host, job, answered);
  });
}

bool HandleVersion2Message(MessageContext& c) {
  switch (MessageCommand(c.payload)) {
    case CmdV2Start:
      OnStart(c);
      return true;
    case CmdV2Accept:
      OnAccept(c);
      return true;
    case CmdV2Check:
      OnCheck(c);
      return true;
    case CmdV2CheckAnswer:
      OnCheckAnswer(c);
      return true;
    case CmdV2Get:
      OnGet(c);
      return true;
    case CmdV2Data:
      OnData(c);
      return true;
    case CmdV2FileAdd:
      OnFileAdd(c);
      return true;
    case CmdV2KeepAlive:
      // Its arrival is all it says; a line for each would bury the log.
      if (!IsV2KeepAlive(c.payload)) c.Malformed("KeepAlive");
      return true;
    default:
      return false;
  }
}

}  // namespace kelpie
