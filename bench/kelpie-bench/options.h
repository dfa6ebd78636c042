#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpie::bench {

// Command line of kelpie-bench.
struct Options {
  std::vector<std::string> initiators = {"client"};
  std::vector<std::string> scenarios;  // empty: the pair of files given
  int64_t size = 0;                    // 0: each scenario's default size
  std::string local, peer;
  double timeout = 3600;
  int netVersion = 2;
  std::string keyFile;  // non-empty: both sides in secure mode with this key
  int rttMs = 0;
  bool interrupt = false;  // kill each run halfway through, then run it again
  int clients = 0;         // the clients scenario's connections; 0: as many as a server takes
};

extern const char kUsage[];

// False for arguments that make no run.
bool ParseOptions(int argc, char** argv, Options& o);

// The size a scenario is made at when --size is not given; 0 when it has
// none.
int64_t DefaultSize(const std::string& scenario);

}  // namespace kelpie::bench
