#include "compare/loaded_files.h"

#include <iterator>

namespace kelpie {

const WholeFileHash& LoadedFile::Sha256Once() {
  if (!sha256) sha256 = Sha256(bytes());
  return *sha256;
}

const std::shared_ptr<const ChunkIndex>& LoadedFile::IndexOnce() {
  if (!index) index = std::make_shared<const ChunkIndex>(bytes());
  return index;
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
