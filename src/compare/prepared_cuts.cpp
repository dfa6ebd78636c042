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

std::shared_ptr<const PreparedCuts> PrepareCuts(const std::string& path, int64_t size,
                                                WorkProgress* progress) {
  const std::shared_ptr<const MappedFile> view = MappedFile::Open(path, size);
  if (!view) return nullptr;
  auto prepared = std::make_shared<PreparedCuts>();
  prepared->size = size;
  prepared->modified = view->modified();
  RunList runs(prepared->zeroRuns);
  prepared->cuts = CutChunks(view->bytes(), progress, &runs);
  // Cut short when told to stop; a file that changed while it was cut has
  // no cuts to trust.
  if ((progress != nullptr && progress->StopRequested()) || view->Damaged()) return nullptr;
  prepared->zeroRuns.shrink_to_fit();
  return prepared;
}

bool CutReplay::Next(int64_t& end, int& level) {
  if (chunk_ >= prepared_.cuts.Count()) return false;
  const int64_t chunkEnd = end_ + prepared_.cuts.Length(chunk_);
  const std::vector<ChunkRange>& runs = prepared_.zeroRuns;
  for (; run_ < runs.size() && runs[run_].start < chunkEnd; ++run_) {
    if (zeros_ != nullptr) zeros_->ZeroRun(runs[run_].start, runs[run_].start + runs[run_].len);
  }
  end = end_ = chunkEnd;
  level = prepared_.cuts.Level(chunk_++);
  return true;
}

}  // namespace kelpie
