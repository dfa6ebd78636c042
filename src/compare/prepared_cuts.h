#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "compare/chunk_index.h"
#include "compare/content_chunks.h"

namespace kelpie {

class WorkProgress;

// The memory the indexes made when files are offered may take together:
// each holds its share for as long as it lives.
class IndexMemory : public std::enable_shared_from_this<IndexMemory> {
 public:
  class Share {
   public:
    ~Share() { memory_->left_ += bytes_; }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    // Gives back all but `bytes` of it, once what is held is known.
    void ShrinkTo(int64_t bytes);

   private:
    friend class IndexMemory;
    Share(std::shared_ptr<IndexMemory> memory, int64_t bytes)
        : memory_(std::move(memory)), bytes_(bytes) {}
    std::shared_ptr<IndexMemory> memory_;
    int64_t bytes_;
  };

  explicit IndexMemory(int64_t bytes) : left_(bytes) {}
  // A share of `bytes`; null when the rest is smaller.
  std::shared_ptr<Share> Take(int64_t bytes);
  // About what the index of a file of `size` bytes may hold: a little more
  // than on varied data, where it is largest.
  static int64_t EstimateFor(int64_t size) { return size / 40 + 4096; }

 private:
  std::atomic<int64_t> left_;
};

// A file's cuts and the runs of zeros the cutting stepped over, made once
// when the file is offered, so that a comparison on it while it is unchanged
// starts without cutting it again: an initiator checks its ranges at once,
// and a responder builds its index from them. When memory allows, the index
// is made then too, in the same pass, and a responder answers at once.
struct PreparedCuts {
  std::shared_ptr<const ChunkCuts> cuts;
  std::vector<ChunkRange> zeroRuns;  // as the cutting reported them, in order; none with an index
  std::shared_ptr<const ChunkIndex::Tables> index;  // null when not made
  int64_t size = 0;
  int64_t modified = -1;                            // the file's modification time when it was cut
  std::shared_ptr<IndexMemory::Share> memoryShare;  // the index's, when there is one
};

// The file cut as it is now, and indexed too when `indexShare` is given,
// which then keeps only what the index holds; null when the file cannot be
// read, or when progress says to stop first.
std::shared_ptr<const PreparedCuts> PrepareCuts(
    const std::string& path, int64_t size, WorkProgress* progress = nullptr,
    std::shared_ptr<IndexMemory::Share> indexShare = nullptr);

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
