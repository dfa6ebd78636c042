// Pairs whose peer holds the local bytes in another order: content that
// is all there, only somewhere else.
#include <algorithm>

#include "rng.h"
#include "segments.h"
#include "writers.h"

namespace kelpie::bench {
namespace {

constexpr int64_t kMoved = 6;
constexpr int64_t kBlockUnit = 64 << 10;

// Where a moved block goes: before local offset `at`.
struct Move {
  Segment block;
  int64_t at;
};

// One block per zone of the file, each put into the zone halfway round, in
// the gap before or after that zone's own block. Blocks are 64 KiB-1 MiB,
// held to a third of a zone so small files still have gaps.
std::vector<Move> PlanMoves(int64_t size, Rng& rng) {
  int64_t zone = size / kMoved;
  std::vector<Segment> blocks;
  for (int64_t i = 0; i < kMoved; ++i) {
    int64_t length = std::min(kBlockUnit * rng.Between(1, 16), zone / 3);
    blocks.push_back({i * zone + rng.Between(2, zone - length - 2), length});
  }
  std::vector<Move> moves;
  for (int64_t i = 0; i < kMoved; ++i) {
    const Segment& there = blocks[static_cast<size_t>((i + kMoved / 2) % kMoved)];
    int64_t zoneStart = there.offset / zone * zone;
    int64_t at = rng.Percent(50)
                     ? rng.Between(zoneStart + 1, there.offset - 1)
                     : rng.Between(there.offset + there.length + 1, zoneStart + zone - 1);
    moves.push_back({blocks[static_cast<size_t>(i)], at});
  }
  return moves;
}

// The local file in order, the moved blocks left out where they were and
// put in where they go.
std::vector<Segment> Rearrange(int64_t size, std::vector<Move> moves) {
  struct Event {
    int64_t offset;
    Segment block;
    bool insert;
  };
  std::vector<Event> events;
  for (const Move& m : moves) {
    events.push_back({m.block.offset, m.block, false});
    events.push_back({m.at, m.block, true});
  }
  std::sort(events.begin(), events.end(),
            [](const Event& a, const Event& b) { return a.offset < b.offset; });
  std::vector<Segment> segments;
  int64_t position = 0;
  for (const Event& e : events) {
    segments.push_back({position, e.offset - position});
    if (e.insert) segments.push_back(e.block);
    position = e.insert ? e.offset : e.offset + e.block.length;
  }
  segments.push_back({position, size - position});
  return segments;
}

}  // namespace

bool WriteSwapPair(const PairRequest& request) {
  int64_t half = request.size / 2;
  return WriteRandomFile(request.localPath, request.size, request.seed) &&
         WriteSegments(request.localPath, request.peerPath,
                       {{half, request.size - half}, {0, half}});
}

bool WriteMovedPair(const PairRequest& request) {
  if (request.size < kBlockUnit) return false;  // no room for gaps around the blocks
  Rng rng(request.seed);
  std::vector<Move> moves = PlanMoves(request.size, rng);
  return WriteRandomFile(request.localPath, request.size, rng.Next()) &&
         WriteSegments(request.localPath, request.peerPath, Rearrange(request.size, moves));
}

}  // namespace kelpie::bench
