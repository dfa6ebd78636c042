#pragma once

#include <climits>
#include <cstdint>
#include <span>
#include <string_view>

#include "compare/engine_host.h"
#include "compare/entries.h"

namespace kelpie {

// AcceptComparison failures, as sent back in ERROR (Compare_Start).
enum AcceptError : int32_t {
  kCannotOpen = 0,
  kNotListed = 1,
};

struct Acceptance {
  CompareJob* job = nullptr;         // the new responder job, or null
  int32_t error = kNotListed;        // meaningful when job is null
  const FileEntry* entry = nullptr;  // the LocalFiles entry of the new job
};

// Initiator: appends a job with the strategy of its connection's protocol
// version, which tells the peer, reads the local file and cuts it into the
// ranges to check. The job waits in Requested for the peer's acceptance, or,
// in the second version, which names the job itself, starts Comparing at
// once. Returns the new job; null, after a log line, for a file larger than
// the connection's protocol version can describe.
CompareJob* StartComparison(Tables& tables, EngineHost& host, const FileEntry& local,
                            const FileEntry& remote);

// The first LocalFiles entry with this exact path, or null.
FileEntry* FindLocalFile(Tables& tables, std::string_view path);

// Responder: makes a job for the first LocalFiles entry with this exact path.
// A file larger than `largest`, which the peer's protocol version cannot
// describe, was never listed to it.
Acceptance AcceptComparison(Tables& tables, std::string_view path, ConnectionId peer,
                            int64_t largest = INT64_MAX);

// One driver pass over every job: at most one check sent or one
// synchronisation step per job.
// True once the job's local file has shrunk under it (another program
// truncated it). The first time, the log says so and an initiator's job
// ends: nothing of it can be trusted any more.
bool FileChangedUnder(CompareJob& job, EngineHost& host);

void RunComparisons(Tables& tables, EngineHost& host);

// Responder: where a range with this StartLong and MD5 begins in the job's
// data: its own offset first, else the lowest offset, else -1. Also -1 for a
// job without data and for a length outside the data.
int32_t CheckRange(CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                   std::string_view md5);

// Initiator: applies a check answer to the waiting range of the jobs with
// this fileId talking to this peer (0 = the server connection). 1 when a
// waiting range took it, else 0.
int32_t ApplyCheckAnswer(Tables& tables, ConnectionId peer, int32_t fileId, int32_t found);

// Initiator: the answers to one batch of checks, in the order asked, for the
// jobs with this fileId talking to this peer. The first version's single
// answer is batch 0 with one offset. 1 when a job took them, else 0.
int32_t ApplyCheckAnswers(Tables& tables, ConnectionId peer, int32_t fileId, uint32_t batch,
                          std::span<const int64_t> found);

// Responder: Compare_Stop arrived; shows the job as complete.
void StopResponderJob(CompareJob& job, EngineHost& host);

// The number a new LocalFiles entry is named by; never 0.
int32_t NewFileId(Tables& tables);

}  // namespace kelpie
