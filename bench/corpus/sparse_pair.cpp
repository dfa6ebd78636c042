// A disk image: mostly zeros, with islands of data where files live. The
// zeros are holes, so the files cost little disk.
#include <algorithm>
#include <vector>

#include "sparse_image.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr size_t kChangedIslands = 8;

// The mean gap grows with the size up to 1 MiB, so small images still get
// islands enough to change.
int64_t MeanGapPages(int64_t size) {
  return std::clamp<int64_t>(size / kPage / 24, 4, 256);
}

}  // namespace

bool WriteSparsePair(const PairRequest& request) {
  Rng rng(request.seed);
  std::vector<Island> islands = PlaceIslands(request.size, MeanGapPages(request.size), rng);
  std::vector<uint64_t> seeds = IslandSeeds(islands.size(), rng);
  if (!WriteImage(request.localPath, request.size, islands, seeds)) return false;
  // Distinct islands: a partial shuffle of their indices.
  std::vector<size_t> order(seeds.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  size_t changes = std::min<size_t>(kChangedIslands, order.size());
  for (size_t i = 0; i < changes; ++i) {
    std::swap(order[i], order[static_cast<size_t>(rng.Between(i, order.size() - 1))]);
    seeds[order[i]] = rng.Next();
  }
  return WriteImage(request.peerPath, request.size, islands, seeds);
}

}  // namespace kelpie::bench
