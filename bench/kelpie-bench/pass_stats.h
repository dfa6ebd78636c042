#pragma once

#include <string>

namespace kelpie::bench {

// The longest main-loop pass that kelpie-peer --stats wrote into its log at
// its exit, in milliseconds on the clock and of processor time; -1 when the
// log holds none.
struct LongestPass {
  double ms = -1;
  double cpuMs = -1;
};
LongestPass ReadLongestPass(const std::string& logPath);

}  // namespace kelpie::bench
