#include "compare/sync.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "compare/block_list.h"
#include "compare/save_file.h"
#include "compare/sync_index.h"

// How the peer's file is rebuilt.
//
// After a comparison every answered range of the local file knows where the
// peer holds the same bytes (its found offset), or that it holds them nowhere
// (-1). Synchronisation fills a new file of the peer's size from offset 0
// upward, one step per pass of the main loop. At each position it looks for a
// range found exactly there: the first such range in list order wins, so a
// Split range that was found whole is copied whole rather than in halves. Its
// bytes are copied from the local data and the position moves past them.
//
// When no range was found at the position, the bytes up to the next offset at
// which a found range begins (or up to the end of the file) are fetched from
// the peer with Gets. How many steps a pass takes, how large a Get may be and
// how many may be outstanding is the job's strategy's pacing: the first
// protocol version makes one step a pass and waits for each Get (at most
// kMaxGetLength bytes, so the answer fits one frame) before the next; the
// second copies and asks ahead while many large Gets are answered, piece by
// piece, into their places. The position is where the first outstanding Get
// still lacks bytes. Only the bytes the local file lacks cross the network.
//
// Nothing the peer says is trusted to stay within the buffers: a found range
// that would run past the new file's end is never copied, an answer stores at
// most what still fits, and an answer without bytes ends the synchronisation
// instead of asking again forever. The new file is assembled in a temporary
// file beside the local one (rebuild_file.h); when it is whole it is moved to
// where the user chooses.

namespace kelpie {
namespace {

constexpr char kCompleteLine[] = "Syncronison complete!";
constexpr char kCannotCreateLine[] = "Couldn't open file!";
constexpr char kWriteFailedLine[] = "Couldn't write file!";
constexpr char kReplaceFailedLine[] = "Couldn't replace file!";
constexpr char kNoDataLine[] = "Syncronison stopped: the peer sent no data!";
constexpr char kResumedLine[] = "Resuming from partial file ";
constexpr char kDiscardedLine[] = "Partial file no longer fits the peer's file, discarded: ";

void ReleaseNewData(CompareJob& job) {
  job.rebuilt.reset();
}

int64_t NewSize(const CompareJob& job) {
  return job.rebuilt ? job.rebuilt->size() : 0;
}

int64_t BytesInFlight(const CompareJob& job) {
  int64_t bytes = 0;
  for (const auto& [offset, get] : job.pendingGets)
    bytes += get.len - get.received;
  return bytes;
}

// Everything in front of the first outstanding Get's missing bytes is there.
void UpdatePosition(CompareJob& job) {
  if (job.pendingGets.empty()) {
    job.position = job.fetchPosition;
    return;
  }
  const auto& [offset, get] = *job.pendingGets.begin();
  job.position = offset + get.received;
}

void StopForNoData(CompareJob& job, EngineHost& host) {
  // Asking again would bring nothing again.
  job.state = kIdle;
  job.pendingGets.clear();
  host.AddLog(kNoDataLine);
  host.UpdateJobList(kRepaintJobList);
}

void SaveNewFile(CompareJob& job, EngineHost& host) {
  // Whole now: saved or not, nothing of it is kept for a later resume.
  job.rebuilt->Discard();
  if (job.rebuilt->Damaged()) {
    host.AddLog(kWriteFailedLine);
    ReleaseNewData(job);
    job.state = kIdle;
    return;
  }
  if (!StrategyOf(job).AcceptRebuilt(*job.rebuilt, host)) {
    ReleaseNewData(job);
    job.state = kIdle;
    return;
  }
  const std::string path = host.AskSavePath(job.localFile.path);
  const SaveResult result = path.empty() ? SaveResult::kSaved : job.rebuilt->SaveAs(path);
  // Saved, refused or cancelled, the assembled file goes: nothing is left
  // behind beside the local file.
  ReleaseNewData(job);
  if (!path.empty()) {
    switch (result) {
      case SaveResult::kSaved:
        host.AddLog(kCompleteLine);
        break;
      case SaveResult::kCannotCreate:
        host.AddLog(kCannotCreateLine);
        break;
      case SaveResult::kWriteFailed:
        host.AddLog(kWriteFailedLine);
        break;
      case SaveResult::kReplaceFailed:
        host.AddLog(kReplaceFailedLine);
        break;
    }
  }
  job.state = kIdle;
}

void TellResume(const RebuildFile::ResumeNote& note, EngineHost* host) {
  if (host == nullptr) return;
  if (note.kind == RebuildFile::ResumeNote::kResumed) {
    host->AddLog(kResumedLine + note.path + " (" + std::to_string(note.heldBytes) +
                 " bytes already here)");
  } else if (note.kind == RebuildFile::ResumeNote::kDiscarded) {
    host->AddLog(kDiscardedLine + note.path);
  }
}

}  // namespace

bool StartSynchronisation(CompareJob& job, EngineHost* host) {
  if (!job.remoteFile || job.state != kIdle) return false;
  // An earlier run's file goes first, so that its partial file is free.
  ReleaseNewData(job);
  const std::optional<PartialIdentity> identity = StrategyOf(job).RebuildIdentity();
  if (identity && identity->size == job.remoteFile->size) {
    RebuildFile::ResumeNote note;
    job.rebuilt = RebuildFile::Resume(job.localFile.path, *identity, note);
    TellResume(note, host);
  } else {
    job.rebuilt =
        RebuildFile::Create(job.localFile.path, std::max<int64_t>(job.remoteFile->size, 0),
                            StrategyOf(job).HashesRebuilt());
  }
  if (!job.rebuilt) return false;
  job.position = 0;
  job.fetchPosition = 0;
  job.pendingGets.clear();
  job.syncIndex.version = -1;
  RefreshSyncIndex(job);
  job.state = kSynchronising;
  return true;
}

void AbortJob(CompareJob& job, EngineHost& host) {
  host.SendStop(job);
  if (job.rebuilt) job.rebuilt->Checkpoint();
  job.state = kIdle;
}

void EndForLostPeer(CompareJob& job, EngineHost& host) {
  if (!job.remoteFile) return;
  job.pendingGets.clear();
  ReleaseNewData(job);
  job.state = kIdle;
  host.UpdateJobList(kRepaintJobList);
}

void SyncStep(CompareJob& job, EngineHost& host) {
  const int64_t newSize = NewSize(job);
  if (job.position >= newSize && job.pendingGets.empty()) {
    SaveNewFile(job, host);
    return;
  }
  RefreshSyncIndex(job);
  ComparisonStrategy& strategy = StrategyOf(job);
  const SyncPacing pacing = strategy.Pacing();
  int64_t moved = 0;
  bool copied = false;
  bool windowFull = false;
  for (int32_t step = 0; step < pacing.stepsPerPass && moved < pacing.bytesPerPass; ++step) {
    if (job.fetchPosition >= newSize) break;
    // What an earlier, interrupted run fetched is not fetched again.
    if (const int64_t held = job.rebuilt->HeldUpTo(job.fetchPosition); held > job.fetchPosition) {
      moved += held - job.fetchPosition;
      job.fetchPosition = held;
      continue;
    }
    const int64_t nextHeld = job.rebuilt->NextHeld(job.fetchPosition);
    int64_t next = nextHeld;
    if (const std::optional<SyncSource> source = FindSyncSource(
            job.syncIndex, job.fetchPosition, nextHeld, next, pacing.copyFromWithin)) {
      job.rebuilt->Write(job.fetchPosition, DataRange(job.data, source->start, source->len));
      job.fetchPosition += source->len;
      moved += source->len;
      copied = true;
      continue;
    }
    windowFull = static_cast<int32_t>(job.pendingGets.size()) >= pacing.getsInFlight ||
                 BytesInFlight(job) >= pacing.bytesInFlight;
    if (windowFull) break;
    const int64_t len = std::min<int64_t>(next - job.fetchPosition, pacing.maxGetLength);
    job.pendingGets[job.fetchPosition] = PendingGet{++job.lastRequest, len, 0};
    strategy.RequestRange(job, host, job.lastRequest, job.fetchPosition, len);
    job.fetchPosition += len;
    moved += len;
    windowFull = static_cast<int32_t>(job.pendingGets.size()) >= pacing.getsInFlight;
  }
  UpdatePosition(job);
  job.rebuilt->Filled(job.position);
  if (copied) host.UpdateJobList(kRepaintJobList);
  // Nothing more can happen before an answer arrives.
  if (!job.pendingGets.empty() && (windowFull || job.fetchPosition >= newSize)) {
    job.state = kAwaitingData;
  }
}

std::span<const uint8_t> ServeRange(const CompareJob& job, int32_t start, int32_t len) {
  const std::span<const uint8_t> range = DataRange(job.data, start, std::min(len, kMaxGetLength));
  // Bytes of a file that shrank under the job would be zeros, not its bytes.
  if (job.loaded && !job.loaded->view->Intact(range)) return {};
  return range;
}

void StoreRangeAnswer(CompareJob& job, EngineHost& host, std::span<const uint8_t> bytes) {
  if (job.state != kAwaitingData) return;
  if (bytes.empty()) return StopForNoData(job, host);
  const int64_t size = NewSize(job);
  const int64_t room = std::clamp<int64_t>(size - job.position, 0, size);
  const auto count = static_cast<size_t>(std::min<int64_t>(room, std::ssize(bytes)));
  if (count > 0) job.rebuilt->Write(job.position, bytes.first(count));
  job.position += static_cast<int64_t>(count);
  // The answer settles the Get at the position; what it lacked is asked again.
  job.pendingGets.clear();
  job.fetchPosition = job.position;
  job.state = kSynchronising;
  host.UpdateJobList(kRepaintJobList);
}

bool StoreRangePiece(CompareJob& job, EngineHost& host, const RangePiece& piece) {
  if (job.state != kSynchronising && job.state != kAwaitingData) return false;
  auto it = job.pendingGets.upper_bound(piece.offset);
  if (it == job.pendingGets.begin()) return false;
  --it;
  PendingGet& get = it->second;
  // Pieces of a Get come in order; anything else is not an answer to it.
  if (get.request != piece.request || it->first + get.received != piece.offset) {
    return false;
  }
  if (piece.len <= 0) {
    StopForNoData(job, host);
    return true;
  }
  const int64_t count = std::min<int64_t>(piece.len, get.len - get.received);
  if (!piece.zeros) {
    if (std::ssize(piece.bytes) < count) return false;
    job.rebuilt->Write(piece.offset, piece.bytes.first(static_cast<size_t>(count)));
  }
  // A new file starts zero-filled, so a piece of zeros needs no copy.
  if (piece.zeros) job.rebuilt->WriteZeros(piece.offset, count);
  get.received += count;
  if (get.received == get.len) job.pendingGets.erase(it);
  UpdatePosition(job);
  job.state = kSynchronising;
  return true;
}

}  // namespace kelpie
