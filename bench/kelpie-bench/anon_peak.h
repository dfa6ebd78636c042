#pragma once

#include <sys/types.h>

#include <cstdint>
#include <thread>

namespace kelpie::bench {

// A field of /proc/PID/status in KiB ("RssAnon", "VmHWM"); -1 when the
// process or the field is gone (a zombie has no memory fields). Plain system
// calls into a stack buffer: safe in a thread of a process that forks.
int64_t StatusKib(pid_t pid, const char* field);

// The peak of a process's anonymous resident memory (RssAnon), sampled every
// few milliseconds by a thread of its own: the kernel keeps a peak of the
// whole resident set (VmHWM) but none of its anonymous part.
class AnonPeak {
 public:
  explicit AnonPeak(pid_t pid);
  ~AnonPeak() { Stop(); }
  AnonPeak(const AnonPeak&) = delete;
  AnonPeak& operator=(const AnonPeak&) = delete;

  // Ends the sampling after one last sample; the peak in KiB, 0 when the
  // process could never be read. Call it before the process is reaped, so
  // its pid cannot name another process by then.
  int64_t Stop();

 private:
  void Sample();

  pid_t pid_;
  int64_t peak_ = 0;  // written by the thread until it is joined
  std::jthread thread_;
};

}  // namespace kelpie::bench
