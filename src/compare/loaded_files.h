#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "compare/background_work.h"
#include "compare/chunk_index.h"
#include "compare/fingerprint.h"
#include "compare/mapped_file.h"
#include "compare/prepared_cuts.h"
#include "compare/range_index.h"
#include "compare/range_search.h"

namespace kelpie {

// One local file as the jobs on it see it: its bytes, and what is worked out
// from them once for every job: the SHA-256, the version-2 range index and
// the first version's offset index. Each of these is made on a thread of its
// own, started the first time a job asks, so that a file of many gigabytes
// never holds up the main loop; until it is ready the asking job waits or
// does without.
class LoadedFile : public RangeIndexSource {
 public:
  std::shared_ptr<const MappedFile> view;

  std::span<const uint8_t> bytes() const { return view->bytes(); }

  // Cuts of the file made when it was offered: the index is built from them,
  // or taken as made then, when they still fit the file as it was read.
  void UseCuts(std::shared_ptr<const PreparedCuts> cuts);
  // Those cuts; null when there are none that fit.
  const PreparedCuts* cuts() const { return cuts_.get(); }

  // Null until ready.
  const WholeFileHash* ReadySha256();
  std::shared_ptr<const ChunkIndex> ReadyChunkIndex();
  std::shared_ptr<const RangeIndex> ReadyRangeIndex() override;

  // How far the slowest work under way has got through the file, in bytes;
  // the file's size when none is under way.
  int64_t PreparedBytes() const;

 private:
  std::shared_ptr<const PreparedCuts> cuts_;
  std::optional<WholeFileHash> sha256_;
  std::shared_ptr<const ChunkIndex> chunkIndex_;
  std::shared_ptr<const RangeIndex> rangeIndex_;
  bool rangeIndexTried_ = false;
  // Written by the work threads, read once their work is done.
  WholeFileHash madeSha256_{};
  std::shared_ptr<const ChunkIndex> madeChunkIndex_;
  std::shared_ptr<const RangeIndex> madeRangeIndex_;
  // Last, so they are stopped before anything they write goes.
  std::unique_ptr<BackgroundWork> sha256Work_;
  std::unique_ptr<BackgroundWork> chunkIndexWork_;
  std::unique_ptr<BackgroundWork> rangeIndexWork_;
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
