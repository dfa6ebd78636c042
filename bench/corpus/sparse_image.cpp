#include "sparse_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "common/unique_fd.h"

namespace kelpie::bench {

std::vector<Island> PlaceIslands(int64_t size, int64_t meanGapPages, Rng& rng) {
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

std::vector<uint64_t> IslandSeeds(size_t count, Rng& rng) {
  std::vector<uint64_t> seeds;
  for (size_t i = 0; i < count; ++i)
    seeds.push_back(rng.Next());
  return seeds;
}

}  // namespace kelpie::bench
