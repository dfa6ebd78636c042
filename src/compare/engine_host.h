#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "compare/chunk_index.h"
#include "compare/entries.h"

namespace kelpie {

// UpdateJobList flags.
inline constexpr int32_t kRebuildJobList = 1;
inline constexpr int32_t kRepaintJobList = 2;

// What the comparison engine needs from the program around it: a way to
// reach a job's peer, the log, the job list and the save dialog. Messages for
// a job go to its peer connection when it has one, else to the server
// connection.
class EngineHost {
 public:
  virtual ~EngineHost() = default;

  virtual void SendCompareStart(const CompareJob& job) = 0;  // the remote file's path
  virtual void SendCheck(const CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                         std::string_view md5) = 0;
  virtual void SendGet(const CompareJob& job, int32_t start, int32_t len) = 0;
  virtual void SendStop(const CompareJob& job) = 0;
  // The protocol version spoken with the job's peer. A host that does not
  // say speaks the first version only, and is never asked for the messages
  // of the second below.
  virtual int32_t PeerVersion(const CompareJob&) const { return 1; }
  // Version 2: the start naming the comparison by the job's fileId, a batch
  // of range checks, and a Get numbered within the job.
  virtual void SendCompareStart2(const CompareJob&) {}
  virtual void SendRangeChecks(const CompareJob&, uint32_t, std::span<const RangeCheck>) {}
  virtual void SendRangeGet(const CompareJob&, uint32_t, int64_t, int64_t) {}

  virtual void AddLog(std::string_view line) = 0;
  virtual void UpdateJobList(int32_t flags) = 0;
  // The "Save file" dialog proposing a path; "" when cancelled.
  virtual std::string AskSavePath(std::string_view proposal) = 0;
};

}  // namespace kelpie
