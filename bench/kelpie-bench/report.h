#pragma once

#include <string>

#include "initiator.h"

namespace kelpie::bench {

struct RunLabel {
  std::string scenario;   // "files" for a given pair
  std::string initiator;  // "server" or "client"
  int64_t localBytes = 0;
  int64_t peerBytes = 0;
  int netVersion = 2;
  int rttMs = 0;
  int64_t peerDiskBytes = 0;  // st_blocks * 512 of the peer's file
  std::string run;            // with --interrupt: "interrupted" or "rerun"
};

// One JSON object on one line.
std::string JsonLine(const RunLabel& label, const RunResult& result);

}  // namespace kelpie::bench
