#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelpie::bench {

// kelpie-peer running as a child process, its output going to a log file.
class PeerProcess {
 public:
  PeerProcess(const std::string& program, const std::vector<std::string>& args,
              const std::string& logPath);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool running() const { return pid_ > 0; }
  // The port the peer printed once it listens; 0 when it did not within the
  // timeout or exited.
  int WaitForListeningPort(double timeoutSeconds);
  // SIGTERM, then waits for the exit. Returns the child's peak resident
  // memory in KiB (0 when unknown).
  int64_t Stop();

 private:
  pid_t pid_ = -1;
  std::string logPath_;
};

}  // namespace kelpie::bench
