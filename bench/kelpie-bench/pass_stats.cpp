#include "pass_stats.h"

#include <cstdio>
#include <fstream>

namespace kelpie::bench {

LongestPass ReadLongestPass(const std::string& logPath) {
  std::ifstream log(logPath);
  LongestPass longest;
  for (std::string line; std::getline(log, line);) {
    LongestPass read;
    if (std::sscanf(line.c_str(), "Longest main-loop pass: %lf ms (%lf ms", &read.ms,
                    &read.cpuMs) == 2) {
      longest = read;
    }
  }
  return longest;
}

}  // namespace kelpie::bench
