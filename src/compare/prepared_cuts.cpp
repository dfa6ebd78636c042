#include "compare/prepared_cuts.h"

#include "compare/background_work.h"
#include "compare/mapped_file.h"

namespace kelpie {
namespace {

class RunList final : public ZeroRunSink {
 public:
  explicit RunList(std::vector<ChunkRange>& runs) : runs_(runs) {}
  void ZeroRun(int64_t start, int64_t end) override { runs_.push_back({start, end - start}); }

 private:
  std::vector<ChunkRange>& runs_;
};

}  // namespace

std::shared_ptr<IndexMemory::Share> IndexMemory::Take(int64_t bytes) {
  int64_t left = left_.load();
  do {
    if (left < bytes) return nullptr;
  } while (!left_.compare_exchange_weak(left, left - bytes));
  return std::shared_ptr<Share>(new Share(shared_from_this(), bytes));
}

void IndexMemory::Share::ShrinkTo(int64_t bytes) {
  if (bytes >= bytes_) return;
  memory_->left_ += bytes_ - bytes;
  bytes_ = bytes;
}

std::shared_ptr<const PreparedCuts> PrepareCuts(const std::string& path, int64_t size,
                                                WorkProgress* progress,
                                                std::shared_ptr<IndexMemory::Share> indexShare) {
  const std::shared_ptr<const MappedFile> view = MappedFile::Open(path, size);
  if (!view) return nullptr;
  auto prepared = std::make_shared<PreparedCuts>();
  prepared->size = size;
  prepared->modified = view->modified();
  if (indexShare) {
    const ChunkIndex index(view->bytes(), progress);
    prepared->index = index.tables();
    prepared->cuts = index.cuts();
    indexShare->ShrinkTo(static_cast<int64_t>(index.MemoryBytes()));
    prepared->memoryShare = std::move(indexShare);
  } else {
    RunList runs(prepared->zeroRuns);
    prepared->cuts = std::make_shared<const ChunkCuts>(CutChunks(view->bytes(), progress, &runs));
    prepared->zeroRuns.shrink_to_fit();
  }
  // Cut short when told to stop; a file that changed while it was cut has
  // no cuts to trust.
  if ((progress != nullptr && progress->StopRequested()) || view->Damaged()) return nullptr;
  return prepared;
}

bool CutReplay::Next(int64_t& end, int& level) {
  const ChunkCuts& cuts = *prepared_.cuts;
  if (chunk_ >= cuts.Count()) return false;
  const int64_t chunkEnd = end_ + cuts.Length(chunk_);
  const std::vector<ChunkRange>& runs = prepared_.zeroRuns;
  for (; run_ < runs.size() && runs[run_].start < chunkEnd; ++run_) {
    if (zeros_ != nullptr) zeros_->ZeroRun(runs[run_].start, runs[run_].start + runs[run_].len);
  }
  end = end_ = chunkEnd;
  level = cuts.Level(chunk_++);
  return true;
}

}  // namespace kelpie
