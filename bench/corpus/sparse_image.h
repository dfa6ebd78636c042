#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rng.h"

namespace kelpie::bench {

inline constexpr int64_t kPage = 4096;

// A range of a sparse image that holds data; everything else is a hole.
struct Island {
  int64_t offset;
  int64_t length;
};

// Page-aligned islands of 4 KiB-256 KiB (small ones more often, 22 pages on
// average) over `size` bytes, the gaps between them meanGapPages pages on
// average.
std::vector<Island> PlaceIslands(int64_t size, int64_t meanGapPages, Rng& rng);

// One fill seed per island.
std::vector<uint64_t> IslandSeeds(size_t count, Rng& rng);

// Writes a file of `size` bytes that is a hole except for the islands, each
// filled from its own seed, in order: a later island overwrites an earlier
// one where they meet.
bool WriteImage(const std::string& path, int64_t size, const std::vector<Island>& islands,
                const std::vector<uint64_t>& seeds);

}  // namespace kelpie::bench
