#pragma once

#include <cstdint>
#include <string>

namespace kelpie::bench {

struct WindowBenchOptions {
  std::string scenario;  // empty for a given pair of files
  int64_t size = 0;
  std::string local, peer;
  int netVersion = 0;  // 0: both programs speak their default
  double timeout = 3600;
};

extern const char kWindowBenchUsage[];

// False for a bad or missing argument.
bool ParseWindowBenchOptions(int argc, char** argv, WindowBenchOptions& options);

}  // namespace kelpie::bench
