// A disk image: mostly zeros, with islands of data where files live. The
// zeros are holes, so the files cost little disk.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "common/unique_fd.h"
#include "rng.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr int64_t kPage = 4096;
constexpr size_t kChangedIslands = 8;

struct Island {
  int64_t offset;
  int64_t length;
};

// Islands of 4 KiB-256 KiB (small ones more often), page aligned. The mean
// gap grows with the size up to 1 MiB, so small images still get islands
// enough to change.
std::vector<Island> PlaceIslands(int64_t size, Rng& rng) {
  int64_t meanGapPages = std::clamp<int64_t>(size / kPage / 24, 4, 256);
  std::vector<Island> islands;
  for (int64_t at = 0;;) {
    at += kPage * rng.Between(1, 2 * meanGapPages);
    int64_t pages = int64_t{1} << rng.Between(0, 6);
    int64_t length = kPage * std::min<int64_t>(rng.Between(pages, 2 * pages - 1), 64);
    if (at + length > size) return islands;
    islands.push_back({at, length});
    at += length;
  }
}

bool WriteImage(const std::string& path, int64_t size, const std::vector<Island>& islands,
                const std::vector<uint64_t>& seeds) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid() || ::ftruncate(fd.get(), size) != 0) return false;
  std::vector<char> data;
  for (size_t i = 0; i < islands.size(); ++i) {
    data.resize(static_cast<size_t>(islands[i].length));
    Rng(seeds[i]).Fill(data);
    if (::pwrite(fd.get(), data.data(), data.size(), islands[i].offset) !=
        static_cast<ssize_t>(data.size())) {
      return false;
    }
  }
  return fd.Close();
}

}  // namespace

bool WriteSparsePair(const PairRequest& request) {
  Rng rng(request.seed);
  std::vector<Island> islands = PlaceIslands(request.size, rng);
  std::vector<uint64_t> seeds;
  for (size_t i = 0; i < islands.size(); ++i)
    seeds.push_back(rng.Next());
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
