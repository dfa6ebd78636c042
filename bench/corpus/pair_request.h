#pragma once

#include <cstdint>
#include <string>

namespace kelpie::bench {

// What to write: a local file of about `size` bytes and the peer's version.
struct PairRequest {
  int64_t size = 0;
  uint64_t seed = 1;
  std::string localPath;
  std::string peerPath;
  std::string tree;  // source tree archived by the tar pair
};

}  // namespace kelpie::bench
