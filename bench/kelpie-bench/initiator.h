#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kelpie::bench {

struct RunSetup {
  bool serverInitiates = false;  // else the initiator is the client
  std::string localPath;         // offered by the initiator
  std::string peerPath;          // offered by the kelpie-peer process
  std::string savePath;          // where the synchronised file is saved
  std::string peerProgram;       // path of kelpie-peer
  std::string workDir;
  double timeoutSeconds = 3600;
  int netVersion = 2;        // the highest protocol version both sides speak
  std::string keyFile;       // non-empty: both sides in secure mode with this key
  int rttMs = 0;             // above 0: the two sides talk through a delaying proxy
  std::string proxyProgram;  // path of kelpie-delay-proxy
  // Above 0: a kelpie-peer (process peerPid) already listens on this port,
  // through its proxy if any; the initiator connects as the client there
  // instead of starting a peer of its own.
  int peerPort = 0;
  pid_t peerPid = 0;
  // SIGKILL this process once half the peer's file is rebuilt, as a user
  // pulling the plug would.
  bool killHalfway = false;
};

struct RunResult {
  std::string error;  // empty when the run got to the end
  double compareSeconds = 0;
  double syncSeconds = 0;
  int64_t checks = 0;
  int64_t gets = 0;
  int64_t wireSent = 0;
  int64_t wireReceived = 0;
  int64_t syncReceived = 0;  // wire bytes received from the Syncronize click on
  int64_t initiatorPeakKb = 0;
  int64_t peerPeakKb = 0;
  int64_t initiatorPeakAnonKb = 0;
  int64_t peerPeakAnonKb = 0;
  int64_t savedDiskBytes = -1;  // st_blocks * 512 of the saved file; -1 when none
  bool killed = false;          // stopped halfway on purpose
  bool match = false;
};

using RunReport = std::function<void(const RunResult&)>;

// Starts kelpie-peer offering the peer file (unless one is given), plays the
// initiator in this process through the window commands (connect, Compare,
// Syncronize, save), checks the saved file against the peer's, hands the
// result to report and returns it. With killHalfway it reports what it has
// and kills the process instead of returning.
RunResult RunComparison(const RunSetup& setup, const RunReport& report);

}  // namespace kelpie::bench
