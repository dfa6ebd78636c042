#pragma once

#include <cstdint>
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
  int rttMs = 0;             // above 0: the two sides talk through a delaying proxy
  std::string proxyProgram;  // path of kelpie-delay-proxy
};

struct RunResult {
  std::string error;  // empty when the run got to the end
  double compareSeconds = 0;
  double syncSeconds = 0;
  int64_t checks = 0;
  int64_t gets = 0;
  int64_t wireSent = 0;
  int64_t wireReceived = 0;
  int64_t initiatorPeakKb = 0;
  int64_t peerPeakKb = 0;
  bool match = false;
};

// Starts kelpie-peer offering the peer file, plays the initiator in this
// process through the window commands (connect, Compare, Syncronize, save)
// and checks the saved file against the peer's.
RunResult RunComparison(const RunSetup& setup);

}  // namespace kelpie::bench
