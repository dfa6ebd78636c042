#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "anon_peak.h"

namespace kelpie::bench {

// kelpie-peer's arguments for secure mode with keyFile: none when it is empty.
std::vector<std::string> KeyArgs(const std::string& keyFile);

// kelpie-peer running as a child process, its output going to a log file,
// its anonymous memory sampled from the moment it runs the program.
class PeerProcess {
 public:
  PeerProcess(const std::string& program, const std::vector<std::string>& args,
              const std::string& logPath);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The port the peer printed once it listens; 0 when it did not within the
  // timeout or exited.
  int WaitForListeningPort(double timeoutSeconds);
  // SIGTERM, then waits for the exit. Returns the child's peak resident
  // memory in KiB (0 when unknown).
  int64_t Stop();
  // After Stop: the child's peak anonymous resident memory in KiB.
  int64_t PeakAnonKib() const { return peakAnonKib_; }

 private:
  pid_t pid_ = -1;
  std::string logPath_;
  std::unique_ptr<AnonPeak> anon_;
  int64_t peakAnonKib_ = 0;
};

}  // namespace kelpie::bench
