#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "compare/chunk_index.h"
#include "compare/fingerprint.h"
#include "compare/mapped_file.h"

namespace kelpie {

// One local file as the jobs on it see it: its bytes, and what is worked out
// from them once for every job (the SHA-256, the version-2 range index).
struct LoadedFile {
  std::shared_ptr<const MappedFile> view;
  std::optional<WholeFileHash> sha256;
  std::shared_ptr<const ChunkIndex> index;

  std::span<const uint8_t> bytes() const { return view->bytes(); }
  const WholeFileHash& Sha256Once();
  const std::shared_ptr<const ChunkIndex>& IndexOnce();
};

// The files jobs have open, so that every job on one file (same path, size
// and modification time) shares one view and one index. An entry lives as
// long as a job holds it; the table only remembers it meanwhile.
class LoadedFiles {
 public:
  // The file's shared view, opened when no job has it open yet; null when it
  // cannot be opened.
  std::shared_ptr<LoadedFile> Open(const std::string& path, int64_t size);

 private:
  std::map<std::pair<std::string, int64_t>, std::weak_ptr<LoadedFile>> open_;
};

}  // namespace kelpie
