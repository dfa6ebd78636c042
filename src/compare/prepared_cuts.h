#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "compare/content_chunks.h"

namespace kelpie {

class WorkProgress;

// A file's cuts and the runs of zeros the cutting stepped over, made once
// when the file is offered, so that a comparison on it while it is unchanged
// starts without cutting it again: an initiator checks its ranges at once,
// and a responder builds its index from them.
struct PreparedCuts {
  ChunkCuts cuts;
  std::vector<ChunkRange> zeroRuns;  // as the cutting reported them, in order
  int64_t size = 0;
  int64_t modified = -1;  // the file's modification time when it was cut
};

// The file cut as it is now; null when it cannot be read, or when progress
// says to stop first.
std::shared_ptr<const PreparedCuts> PrepareCuts(const std::string& path, int64_t size,
                                                WorkProgress* progress = nullptr);

// Whether cuts made of a file still hold for it as a job reads it.
inline bool CutsFit(const PreparedCuts* prepared, int64_t size, int64_t modified) {
  return prepared != nullptr && prepared->size == size && prepared->modified == modified &&
         modified >= 0;
}

// Gives prepared cuts back in order as a ChunkCutter over the same bytes
// would: each run of zeros to `zeros` before the chunk it begins in.
class CutReplay {
 public:
  CutReplay(const PreparedCuts& prepared, ZeroRunSink* zeros)
      : prepared_(prepared), zeros_(zeros) {}
  bool Next(int64_t& end, int& level);

 private:
  const PreparedCuts& prepared_;
  ZeroRunSink* zeros_;
  size_t chunk_ = 0;
  size_t run_ = 0;
  int64_t end_ = 0;
};

}  // namespace kelpie
