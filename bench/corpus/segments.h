#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpie::bench {

// A range of the local file.
struct Segment {
  int64_t offset;
  int64_t length;
};

// Writes the peer file as the local file's segments, in the order given.
bool WriteSegments(const std::string& localPath, const std::string& peerPath,
                   const std::vector<Segment>& segments);

// Writes `size` bytes of the seeded random stream.
bool WriteRandomFile(const std::string& path, int64_t size, uint64_t seed);

}  // namespace kelpie::bench
