#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kelpie {

// Content-defined cut points of a file, the same on both sides of a
// version-2 comparison. The file is cut into small chunks wherever a rolling
// hash of the last 64 bytes is small enough, so equal content is cut at equal
// places whatever lies before it. Every cut also has a level: the smaller the
// hash, the higher the level, and the ranges between cuts of at least level k
// form level k. Each level holds about eight ranges of the level below, so a
// range can be checked whole and, when it is not found, through its parts.
inline constexpr int kTopChunkLevel = 3;
inline constexpr int64_t kMinChunk = 128;
inline constexpr int64_t kMaxChunk = 8192;
// A range of level k is never longer than this; a longer one is cut at its
// next small chunk, so long runs of one byte value still form ranges.
int64_t MaxRangeLength(int level);

struct ChunkCuts {
  std::vector<int64_t> ends;   // end offset of every small chunk, ascending
  std::vector<uint8_t> level;  // level of the cut at each end; the file's end is the top level
};

ChunkCuts CutChunks(std::span<const uint8_t> data);

// A range of one level: [start, start + len).
struct ChunkRange {
  int64_t start = 0;
  int64_t len = 0;
};

// The ranges of `level` inside [start, end), which must be cuts of that level
// or higher. Empty for an empty span.
std::vector<ChunkRange> RangesOfLevel(const ChunkCuts& cuts, int level, int64_t start, int64_t end);

// The parts of a range of `level` one level down, or further down while that
// gives a single part; `partLevel` is set to the level of the parts. Empty
// when the range is one small chunk.
std::vector<ChunkRange> PartsOf(const ChunkCuts& cuts, int level, const ChunkRange& range,
                                int& partLevel);

// The 64-bit fingerprint of a range's bytes that version-2 checks carry.
uint64_t RangeHash(std::span<const uint8_t> bytes);

}  // namespace kelpie
