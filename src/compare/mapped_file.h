#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "compare/mapping_guard.h"

namespace kelpie {

// The bytes of a local file as a job reads them: mapped read-only, so they
// live in the page cache rather than in the program's own memory, and every
// job on the file can share them. The view never changes its size; a file
// that shrinks under it reads as zeros past its new end and marks the view
// damaged (mapping_guard.h).
class MappedFile {
 public:
  // The first `size` bytes of the file; bytes past the file's end read as
  // zeros. Null when the file cannot be opened.
  static std::shared_ptr<const MappedFile> Open(const std::string& path, int64_t size);
  // `size` bytes of zeros, for a local file that cannot be read.
  static std::shared_ptr<const MappedFile> Zeros(int64_t size);
  // Bytes already in memory.
  static std::shared_ptr<const MappedFile> Hold(std::vector<uint8_t> bytes);

  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> bytes() const { return bytes_; }
  // True when part of the file vanished under the view while it was read.
  bool Damaged() const { return guard_ && guard_->Damaged(); }
  // Reads a byte of every page of range, a part of bytes(), and says whether
  // the view is still whole: a range about to be sent or saved is known good.
  bool Intact(std::span<const uint8_t> range) const;
  // The file's modification time when it was opened; -1 for bytes of no file.
  int64_t modified() const { return modified_; }

 private:
  MappedFile() = default;

  std::vector<uint8_t> held_;
  void* mapping_ = nullptr;
  size_t mappedLength_ = 0;
  std::unique_ptr<MappingGuard> guard_;
  std::span<const uint8_t> bytes_;
  int64_t modified_ = -1;
};

}  // namespace kelpie
