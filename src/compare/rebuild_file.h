#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/unique_fd.h"
#include "compare/fingerprint.h"
#include "compare/hash_behind.h"
#include "compare/mapping_guard.h"
#include "compare/partial_file.h"
#include "compare/save_file.h"
#include "compare/temporary_file.h"

namespace kelpie {

// The peer's file while a synchronisation assembles it: a temporary file
// beside the local file, mapped for writing, that starts as one hole of the
// peer's size. Pages that only ever receive zeros are never written, so they
// stay holes. Saving moves the file into place; dropping it unsaved removes
// it. Where the local file's folder takes no new file, the bytes are kept in
// memory instead.
//
// A rebuild that knows the peer's whole-file hash is resumable: it lives in
// the local file's partial file (partial_file.h) and records which ranges it
// holds. Dropped before it is whole and unless discarded, it stays there,
// and the next rebuild of the same peer file takes up what it holds.
class RebuildFile {
 public:
  // Null when no room for `size` bytes can be made (a file size limit, no
  // memory).
  // With `hashed`, the file is hashed as it fills (Filled), so its SHA-256
  // is ready when it is whole.
  static std::unique_ptr<RebuildFile> Create(const std::string& besidePath, int64_t size,
                                             bool hashed = false);
  // A resumable rebuild of the peer's file identity describes, taking up the
  // partial file beside besidePath when it was left by a rebuild of the same
  // content. Reports what became of an earlier partial file in note.
  struct ResumeNote {
    enum Kind { kFresh, kResumed, kDiscarded } kind = kFresh;
    std::string path;
    int64_t heldBytes = 0;
  };
  static std::unique_ptr<RebuildFile> Resume(const std::string& besidePath,
                                             const PartialIdentity& identity, ResumeNote& note);
  ~RebuildFile();
  RebuildFile(const RebuildFile&) = delete;
  RebuildFile& operator=(const RebuildFile&) = delete;

  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }
  std::span<const uint8_t> bytes() const { return bytes_; }

  // Stores bytes at offset, cut to the file's end. Every byte is stored at
  // most once, so a page of zeros is skipped: it is zero already. A file is
  // written, not stored into through its mapping: a page first touched by a
  // store can take the file system more than its own block.
  void Write(int64_t offset, std::span<const uint8_t> bytes);
  // Records len bytes of zeros at offset, which a new file holds already.
  void WriteZeros(int64_t offset, int64_t len);
  // The end of the run of bytes already held from at (at when none is), and
  // where the next such run starts (the file's end when none does).
  int64_t HeldUpTo(int64_t at) const { return held_.RunEnd(at); }
  int64_t NextHeld(int64_t at) const { return held_.NextStart(at, size()); }
  // Records now what a resumable rebuild holds, so a rebuild cut off after
  // this (the program killed, the connection lost) takes it up.
  void Checkpoint();
  // The file goes with this object even when it was resumable: it is whole
  // or cannot be trusted.
  void Discard() { discard_ = true; }
  // Everything before upTo is final: it is hashed, when asked for, and
  // starts on its way to the disk, so that neither waits for the end.
  void Filled(int64_t upTo);
  // The SHA-256 of the whole file; hashes what Filled has not.
  WholeFileHash Sha256();
  // True when a page could not be stored (the disk was full).
  bool Damaged() const { return writeFailed_ || (guard_ && guard_->Damaged()); }
  // Flushes the file and renames it over target (keeping the target's
  // permissions, following a link); through a copy when the rename cannot
  // be made.
  SaveResult SaveAs(const std::string& target);

 private:
  RebuildFile() = default;
  bool Map(int64_t size);
  bool TakeUpPartial(const std::string& besidePath, const PartialIdentity& identity,
                     ResumeNote& note);
  void HashRange(int64_t from, int64_t to, Sha256Stream& stream) const;
  void StartHashing();
  int64_t NextData(int64_t offset) const;
  int64_t NextHole(int64_t offset) const;

  TemporaryFile temporary_;
  UniqueFd file_;
  void* mapping_ = nullptr;
  size_t mappedLength_ = 0;
  std::unique_ptr<MappingGuard> guard_;
  std::span<uint8_t> bytes_;
  int64_t writtenBack_ = 0;
  std::unique_ptr<HashBehind> hasher_;
  std::optional<PartialIdentity> identity_;
  HeldRanges held_;
  int64_t checkpointed_ = -1;
  std::chrono::steady_clock::time_point checkpointAt_{};
  bool discard_ = false;
  bool writeFailed_ = false;
};

}  // namespace kelpie
