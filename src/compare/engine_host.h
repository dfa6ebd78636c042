#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

  virtual void AddLog(std::string_view line) = 0;
  virtual void UpdateJobList(int32_t flags) = 0;
  // The "Save file" dialog proposing a path; "" when cancelled.
  virtual std::string AskSavePath(std::string_view proposal) = 0;
};

}  // namespace kelpie
