#include "compare/loaded_files.h"

#include <algorithm>
#include <iterator>

namespace kelpie {
namespace {

// Bytes hashed between two looks at whether to stop.
constexpr size_t kHashPiece = size_t{4} << 20;

WholeFileHash HashWhole(std::span<const uint8_t> bytes, WorkProgress& progress) {
  Sha256Stream stream;
  for (size_t at = 0; at < bytes.size(); at += kHashPiece) {
    if (progress.StopRequested()) return {};
    stream.Feed(bytes.subspan(at, std::min(kHashPiece, bytes.size() - at)));
    progress.SetDone(static_cast<int64_t>(at));
  }
  return stream.Finish();
}

// Starts task on the first call; true once it is done.
bool Ready(std::unique_ptr<BackgroundWork>& work, BackgroundWork::Task task) {
  if (!work) work = std::make_unique<BackgroundWork>(std::move(task));
  return work->Done();
}

}  // namespace

const WholeFileHash* LoadedFile::ReadySha256() {
  if (sha256_) return &*sha256_;
  const std::span<const uint8_t> data = bytes();
  if (!Ready(sha256Work_, [this, data](WorkProgress& p) { madeSha256_ = HashWhole(data, p); })) {
    return nullptr;
  }
  sha256_ = madeSha256_;
  sha256Work_.reset();
  return &*sha256_;
}

void LoadedFile::UseCuts(std::shared_ptr<const PreparedCuts> cuts) {
  if (CutsFit(cuts.get(), static_cast<int64_t>(bytes().size()), view->modified())) {
    cuts_ = std::move(cuts);
  }
}

std::shared_ptr<const ChunkIndex> LoadedFile::ReadyChunkIndex() {
  if (chunkIndex_) return chunkIndex_;
  const std::span<const uint8_t> data = bytes();
  // An index made when the file was offered only needs these bytes.
  if (cuts_ && cuts_->index && !chunkIndexWork_) {
    chunkIndex_ = std::make_shared<const ChunkIndex>(data, nullptr, cuts_.get());
    return chunkIndex_;
  }
  auto make = [this, data, cuts = cuts_](WorkProgress& p) {
    madeChunkIndex_ = std::make_shared<const ChunkIndex>(data, &p, cuts.get());
  };
  if (!Ready(chunkIndexWork_, make)) return nullptr;
  chunkIndex_ = std::move(madeChunkIndex_);
  chunkIndexWork_.reset();
  return chunkIndex_;
}

std::shared_ptr<const RangeIndex> LoadedFile::ReadyRangeIndex() {
  if (rangeIndexTried_) return rangeIndex_;
  const std::span<const uint8_t> data = bytes();
  auto make = [this, data](WorkProgress& p) {
    auto built = std::make_shared<const RangeIndex>(data, &p);
    // Without the memory for it, searches go on scanning.
    if (built->ok()) madeRangeIndex_ = std::move(built);
  };
  if (!Ready(rangeIndexWork_, make)) return nullptr;
  rangeIndex_ = std::move(madeRangeIndex_);
  rangeIndexTried_ = true;
  rangeIndexWork_.reset();
  return rangeIndex_;
}

int64_t LoadedFile::PreparedBytes() const {
  auto size = static_cast<int64_t>(bytes().size());
  for (const auto* work : {&sha256Work_, &chunkIndexWork_, &rangeIndexWork_}) {
    if (*work) size = std::min(size, (*work)->BytesDone());
  }
  return size;
}

std::shared_ptr<LoadedFile> LoadedFiles::Open(const std::string& path, int64_t size) {
  // Entries whose last job has gone are dropped on the way.
  std::erase_if(open_, [](const auto& entry) { return entry.second.expired(); });
  const auto key = std::make_pair(path, size);
  if (auto it = open_.find(key); it != open_.end()) {
    std::shared_ptr<LoadedFile> shared = it->second.lock();
    if (shared && !shared->view->Damaged() && FileModified(path) == shared->view->modified()) {
      return shared;
    }
  }
  std::shared_ptr<const MappedFile> view = MappedFile::Open(path, size);
  if (!view) return nullptr;
  auto loaded = std::make_shared<LoadedFile>();
  loaded->view = std::move(view);
  open_[key] = loaded;
  return loaded;
}

}  // namespace kelpie
