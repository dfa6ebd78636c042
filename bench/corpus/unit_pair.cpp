#include "unit_pair.h"

#include <algorithm>
#include <fstream>
#include <vector>

namespace kelpie::bench {
namespace {

// Local-file offsets at which an edit falls, in order.
std::vector<int64_t> EditOffsets(int64_t size, int edits, Rng& rng) {
  std::vector<int64_t> offsets;
  for (int i = 0; i < edits; ++i)
    offsets.push_back(rng.Between(0, std::max<int64_t>(size - 1, 0)));
  std::sort(offsets.begin(), offsets.end());
  return offsets;
}

}  // namespace

bool WriteUnitPair(const PairRequest& request, int edits, Rng& rng, const UnitSource& next,
                   const UnitEdit& edit) {
  std::ofstream local(request.localPath, std::ios::binary | std::ios::trunc);
  std::ofstream peer(request.peerPath, std::ios::binary | std::ios::trunc);
  std::vector<int64_t> offsets = EditOffsets(request.size, edits, rng);
  auto due = offsets.begin();
  for (int64_t written = 0; written < request.size && local && peer;) {
    std::string unit = next();
    local << unit;
    written += static_cast<int64_t>(unit.size());
    // Every edit offset this unit covers edits it once.
    bool edited = due != offsets.end() && *due < written;
    while (due != offsets.end() && *due < written)
      ++due;
    peer << (edited ? edit(unit) : unit);
  }
  return local.flush() && peer.flush();
}

}  // namespace kelpie::bench
