// A large sparse file: zeros with islands of data over about 3% of it, and
// the peer's copy with 1 MiB of scattered 4 KiB edits, half of them inside
// islands and half anywhere (so mostly in the zeros). Both files keep their
// holes: an 8 GiB pair takes well under a GiB of disk.
#include <algorithm>
#include <vector>

#include "sparse_image.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr int kEdits = 256;
constexpr int64_t kEditBytes = 4096;

// A gap of 720 pages on average leaves the 22-page islands about 3% of a
// large file; smaller files get shorter gaps so they still hold islands
// enough to edit.
int64_t MeanGapPages(int64_t size) {
  return std::clamp<int64_t>(size / kPage / 32, 4, 720);
}

// Where edit number i goes: inside one of the islands for even i, anywhere
// in the file for odd i.
Island PlaceEdit(int i, int64_t size, const std::vector<Island>& islands, Rng& rng) {
  int64_t length = std::min(kEditBytes, size);
  if (i % 2 == 1 || islands.empty()) return {rng.Between(0, size - length), length};
  const Island& island =
      islands[static_cast<size_t>(rng.Between(0, static_cast<int64_t>(islands.size()) - 1))];
  return {std::min(island.offset + rng.Between(0, island.length - 1), size - length), length};
}

}  // namespace

bool WriteSparseEditsPair(const PairRequest& request) {
  Rng rng(request.seed);
  std::vector<Island> islands = PlaceIslands(request.size, MeanGapPages(request.size), rng);
  std::vector<uint64_t> seeds = IslandSeeds(islands.size(), rng);
  if (!WriteImage(request.localPath, request.size, islands, seeds)) return false;
  // The edits are written last, over the islands they fall on.
  std::vector<Island> edited = islands;
  for (int i = 0; i < kEdits; ++i) {
    edited.push_back(PlaceEdit(i, request.size, islands, rng));
    seeds.push_back(rng.Next());
  }
  return WriteImage(request.peerPath, request.size, edited, seeds);
}

}  // namespace kelpie::bench
