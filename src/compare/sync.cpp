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
// (-1). Synchronisation fills a new buffer of the peer's size from offset 0
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
// instead of asking again forever. When the buffer is full it is saved where
// the user chooses, through a temporary file renamed into place.

namespace kelpie {
namespace {

constexpr char kCompleteLine[] = "Syncronison complete!";
constexpr char kCannotCreateLine[] = "Couldn't open file!";
constexpr char kWriteFailedLine[] = "Couldn't write file!";
constexpr char kReplaceFailedLine[] = "Couldn't replace file!";
constexpr char kNoDataLine[] = "Syncronison stopped: the peer sent no data!";

void ReleaseNewData(CompareJob& job) {
  std::vector<uint8_t>().swap(job.newData);
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
  if (!StrategyOf(job).AcceptRebuilt(job.newData, host)) {
    job.state = kIdle;
    return;
  }
  const std::string path = host.AskSavePath(job.localFile.path);
  if (!path.empty()) {
    switch (SaveFileReplacing(path, job.newData)) {
      case SaveResult::kSaved:
        ReleaseNewData(job);
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

}  // namespace

void StartSynchronisation(CompareJob& job) {
  if (!job.remoteFile || job.state != kIdle) return;
  ReleaseNewData(job);
  try {
    job.newData.resize(static_cast<size_t>(std::max(job.remoteFile->size, 0)));
  } catch (const std::bad_alloc&) {
    return;
  }
  job.position = 0;
  job.fetchPosition = 0;
  job.pendingGets.clear();
  job.syncIndex.version = -1;
  RefreshSyncIndex(job);
  job.state = kSynchronising;
}

void AbortJob(CompareJob& job, EngineHost& host) {
  host.SendStop(job);
  job.state = kIdle;
}

void SyncStep(CompareJob& job, EngineHost& host) {
  const auto newSize = static_cast<int32_t>(job.newData.size());
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
    int32_t next = newSize;
    if (const SyncSource* source =
            FindSyncSource(job.syncIndex, job.fetchPosition, newSize, next)) {
      std::memcpy(job.newData.data() + job.fetchPosition, job.data.data() + source->start,
                  static_cast<size_t>(source->len));
      job.fetchPosition += source->len;
      moved += source->len;
      copied = true;
      continue;
    }
    windowFull = static_cast<int32_t>(job.pendingGets.size()) >= pacing.getsInFlight ||
                 BytesInFlight(job) >= pacing.bytesInFlight;
    if (windowFull) break;
    const auto len =
        static_cast<int32_t>(std::min<int64_t>(next - job.fetchPosition, pacing.maxGetLength));
    job.pendingGets[job.fetchPosition] = PendingGet{++job.lastRequest, len, 0};
    strategy.RequestRange(job, host, job.lastRequest, job.fetchPosition, len);
    job.fetchPosition += len;
    moved += len;
    windowFull = static_cast<int32_t>(job.pendingGets.size()) >= pacing.getsInFlight;
  }
  UpdatePosition(job);
  if (copied) host.UpdateJobList(kRepaintJobList);
  // Nothing more can happen before an answer arrives.
  if (!job.pendingGets.empty() && (windowFull || job.fetchPosition >= newSize)) {
    job.state = kAwaitingData;
  }
}

std::span<const uint8_t> ServeRange(const CompareJob& job, int32_t start, int32_t len) {
  return DataRange(job.data, start, std::min(len, kMaxGetLength));
}

void StoreRangeAnswer(CompareJob& job, EngineHost& host, std::span<const uint8_t> bytes) {
  if (job.state != kAwaitingData) return;
  if (bytes.empty()) return StopForNoData(job, host);
  const auto size = static_cast<int64_t>(job.newData.size());
  const int64_t room = std::clamp<int64_t>(size - job.position, 0, size);
  const auto count = static_cast<size_t>(std::min<int64_t>(room, std::ssize(bytes)));
  if (count > 0) std::memcpy(job.newData.data() + job.position, bytes.data(), count);
  job.position += static_cast<int32_t>(count);
  // The answer settles the Get at the position; what it lacked is asked again.
  job.pendingGets.clear();
  job.fetchPosition = job.position;
  job.state = kSynchronising;
  host.UpdateJobList(kRepaintJobList);
}

bool StoreRangePiece(CompareJob& job, EngineHost& host, const RangePiece& piece) {
  if (job.state != kSynchronising && job.state != kAwaitingData) return false;
  auto it =
      job.pendingGets.upper_bound(static_cast<int32_t>(std::min<int64_t>(piece.offset, INT32_MAX)));
  if (it == job.pendingGets.begin()) return false;
  --it;
  PendingGet& get = it->second;
  // Pieces of a Get come in order; anything else is not an answer to it.
  if (get.request != piece.request || int64_t{it->first} + get.received != piece.offset) {
    return false;
  }
  if (piece.len <= 0) {
    StopForNoData(job, host);
    return true;
  }
  const auto count = static_cast<int32_t>(std::min<int64_t>(piece.len, get.len - get.received));
  if (!piece.zeros) {
    if (std::ssize(piece.bytes) < count) return false;
    std::memcpy(job.newData.data() + piece.offset, piece.bytes.data(), static_cast<size_t>(count));
  }
  // A new file starts zero-filled, so a piece of zeros needs no copy.
  get.received += count;
  if (get.received == get.len) job.pendingGets.erase(it);
  UpdatePosition(job);
  job.state = kSynchronising;
  return true;
}

}  // namespace kelpie
