#pragma once

#include <string>
#include <vector>

#include "initiator.h"

namespace kelpie::bench {

struct RunLabel {
  std::string scenario;   // "files" for a given pair
  std::string initiator;  // "server" or "client"
  int64_t localBytes = 0;
  int64_t peerBytes = 0;
  int netVersion = 2;
  int rttMs = 0;
  bool secure = false;        // both sides in secure mode
  int64_t peerDiskBytes = 0;  // st_blocks * 512 of the peer's file
  std::string run;            // with --interrupt: "interrupted" or "rerun"
};

// The clients scenario: one server, many clients at once.
struct ClientsResult {
  int clients = 0;
  int processes = 0;  // the clients' processes
  int64_t serverBytes = 0;
  int64_t localBytes = 0;  // each client's copy
  int netVersion = 2;
  int rttMs = 0;
  bool secure = false;
  double seconds = 0;  // first Compare click to the last save
  int matched = 0;     // saved files equal to the server's
  int64_t serverPeakKb = 0;
  int64_t serverPeakAnonKb = 0;
  // Each client's Compare click to the end of its comparison, and Syncronize
  // click to its save; -1 when it did not get there.
  std::vector<double> compareSeconds;
  std::vector<double> syncSeconds;
  // The longest main-loop pass of any client and of the server (kelpie-peer
  // --stats), on the clock and of processor time.
  double clientLongestPassMs = -1;
  double clientLongestPassCpuMs = -1;
  double serverLongestPassMs = -1;
  double serverLongestPassCpuMs = -1;
  std::string error;
};

// One JSON object on one line.
std::string JsonLine(const RunLabel& label, const RunResult& result);
std::string ClientsJsonLine(const ClientsResult& result);

}  // namespace kelpie::bench
