#pragma once

#include <cstdint>
#include <span>

#include "compare/engine_host.h"
#include "compare/entries.h"

namespace kelpie {

// Largest Get: its answer (14 + len bytes) must fit one frame.
inline constexpr int32_t kMaxGetLength = 32753;

// Syncronize on an Idle job: the file of an earlier run is dropped, a new
// zero-filled file of the remote size is made beside the local file and
// position is 0. False, and nothing done, for a job without a remote file,
// one that is not Idle, or when the new file cannot be made.
// A version that names the peer's file exactly takes up what an interrupted
// run left in the local file's partial file, telling host (when given).
bool StartSynchronisation(CompareJob& job, EngineHost* host = nullptr);

// Abort: Compare_Stop to the peer, then Idle.
void AbortJob(CompareJob& job, EngineHost& host);

// Initiator whose connection is gone: whatever it was doing ends (Idle) and
// its unsaved file goes, a resumable one kept for the next run.
void EndForLostPeer(CompareJob& job, EngineHost& host);

// One fill step of a Synchronising job, or the save once the file is whole.
void SyncStep(CompareJob& job, EngineHost& host);

// Responder: the bytes a Get for [start, start + len) is answered with; only
// bytes that exist in the job's data, possibly none, and none once the file
// has shrunk under the job.
std::span<const uint8_t> ServeRange(const CompareJob& job, int32_t start, int32_t len);

// Initiator, job AwaitingData: stores the data of a Get answer at position
// (only what fits) and goes back to Synchronising. An answer without data
// ends the synchronisation (Idle) with a log line.
void StoreRangeAnswer(CompareJob& job, EngineHost& host, std::span<const uint8_t> bytes);

// One piece of a version-2 Get answer: len bytes of the peer's file from
// offset, carried in bytes or, for a run of zeros, only named.
struct RangePiece {
  uint32_t request = 0;
  int64_t offset = 0;
  int64_t len = 0;
  bool zeros = false;
  std::span<const uint8_t> bytes;
};

// Initiator, synchronising: stores a piece that continues an outstanding Get
// of the same request number. A piece of no bytes ends the synchronisation,
// as the peer has nothing more. False when the piece answers nothing asked.
bool StoreRangePiece(CompareJob& job, EngineHost& host, const RangePiece& piece);

}  // namespace kelpie
