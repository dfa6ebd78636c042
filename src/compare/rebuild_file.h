#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/unique_fd.h"
#include "compare/fingerprint.h"
#include "compare/mapping_guard.h"
#include "compare/save_file.h"
#include "compare/temporary_file.h"

namespace kelpie {

// The peer's file while a synchronisation assembles it: a temporary file
// beside the local file, mapped for writing, that starts as one hole of the
// peer's size. Pages that only ever receive zeros are never written, so they
// stay holes. Saving moves the file into place; dropping it unsaved removes
// it. Where the local file's folder takes no new file, the bytes are kept in
// memory instead.
class RebuildFile {
 public:
  // Null when no room for `size` bytes can be made (a file size limit, no
  // memory).
  // With `hashed`, the file is hashed as it fills (Filled), so its SHA-256
  // is ready when it is whole.
  static std::unique_ptr<RebuildFile> Create(const std::string& besidePath, int64_t size,
                                             bool hashed = false);
  ~RebuildFile();
  RebuildFile(const RebuildFile&) = delete;
  RebuildFile& operator=(const RebuildFile&) = delete;

  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }
  std::span<const uint8_t> bytes() const { return bytes_; }

  // Stores bytes at offset, cut to the file's end. Every byte is stored at
  // most once, so a page of zeros is skipped: it is zero already.
  void Write(int64_t offset, std::span<const uint8_t> bytes);
  // Everything before upTo is final: it is hashed, when asked for, and
  // starts on its way to the disk, so that neither waits for the end.
  void Filled(int64_t upTo);
  // The SHA-256 of the whole file; hashes what Filled has not.
  WholeFileHash Sha256();
  // True when a page could not be stored (the disk was full).
  bool Damaged() const { return guard_ && guard_->Damaged(); }
  // Flushes the file and renames it over target (keeping the target's
  // permissions, following a link); through a copy when the rename cannot
  // be made.
  SaveResult SaveAs(const std::string& target);

 private:
  RebuildFile() = default;
  void HashUpTo(int64_t upTo);
  int64_t NextData(int64_t offset) const;
  int64_t NextHole(int64_t offset) const;

  TemporaryFile temporary_;
  UniqueFd file_;
  void* mapping_ = nullptr;
  size_t mappedLength_ = 0;
  std::unique_ptr<MappingGuard> guard_;
  std::span<uint8_t> bytes_;
  int64_t writtenBack_ = 0;
  std::unique_ptr<Sha256Stream> sha_;
  int64_t hashed_ = 0;
};

}  // namespace kelpie
