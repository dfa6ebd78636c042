#include "compare/rebuild_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "compare/prefault.h"
#include "compare/zero_bytes.h"

namespace kelpie {
namespace {

constexpr int64_t kWritebackPiece = int64_t{8} << 20;
// How far the hash may lag behind the filling: the wait for it at the end,
// and any pass that gets that far ahead, take a few tens of milliseconds.
constexpr int64_t kMostUnhashed = int64_t{32} << 20;
// How stale the record of a partial file may get: what was fetched since the
// last one is fetched again after a kill.
constexpr auto kCheckpointEvery = std::chrono::milliseconds(100);

bool WriteAll(int fd, std::span<const uint8_t> bytes, off_t at) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Zeros everywhere the partial file holds nothing, so that bytes written
// after its last record count as never written.
bool ClearUnheld(int fd, const HeldRanges& held, int64_t size) {
  int64_t at = held.RunEnd(0);
  while (at < size) {
    const int64_t end = held.NextStart(at, size);
    if (end > at &&
        ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, end - at) != 0) {
      return false;
    }
    at = held.RunEnd(end);
  }
  return true;
}

}  // namespace

std::unique_ptr<RebuildFile> RebuildFile::Create(const std::string& besidePath, int64_t size,
                                                 bool hashed) {
  std::unique_ptr<RebuildFile> rebuilt(new RebuildFile);
  if (size <= 0) {
    if (hashed) rebuilt->StartHashing();
    return rebuilt;
  }
  if (!besidePath.empty()) rebuilt->file_.Reset(rebuilt->temporary_.Create(besidePath));
  if (rebuilt->file_.valid() && ::ftruncate(rebuilt->file_.get(), static_cast<off_t>(size)) != 0) {
    return nullptr;
  }
  if (!rebuilt->Map(size)) return nullptr;
  if (hashed) rebuilt->StartHashing();
  return rebuilt;
}

std::unique_ptr<RebuildFile> RebuildFile::Resume(const std::string& besidePath,
                                                 const PartialIdentity& identity,
                                                 ResumeNote& note) {
  note = ResumeNote{};
  if (besidePath.empty() || identity.size <= 0) {
    return Create(besidePath, std::max<int64_t>(identity.size, 0), true);
  }
  std::unique_ptr<RebuildFile> rebuilt(new RebuildFile);
  // Another job rebuilding beside the same file holds the partial file; this
  // one then works in a temporary file of its own.
  if (!rebuilt->TakeUpPartial(besidePath, identity, note)) {
    return Create(besidePath, identity.size, true);
  }
  rebuilt->identity_ = identity;
  rebuilt->checkpointed_ = rebuilt->held_.Bytes();
  if (!rebuilt->Map(identity.size)) return nullptr;
  rebuilt->StartHashing();
  return rebuilt;
}

// Opens and locks the partial file, keeping what it holds when it was left
// for the same peer file and emptying it otherwise. False when it cannot be
// had.
bool RebuildFile::TakeUpPartial(const std::string& besidePath, const PartialIdentity& identity,
                                ResumeNote& note) {
  note.path = PartialPathFor(besidePath);
  UniqueFd fd(::open(note.path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  struct stat info {};
  if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return false;
  }
  temporary_.Adopt(note.path);
  std::optional<PartialState> partial = ReadPartialTrailer(fd.get());
  if (partial && partial->identity == identity && partial->held.Bytes() > 0 &&
      ::ftruncate(fd.get(), static_cast<off_t>(identity.size)) == 0 &&
      ClearUnheld(fd.get(), partial->held, identity.size)) {
    note.kind = ResumeNote::kResumed;
    note.heldBytes = partial->held.Bytes();
    held_ = std::move(partial->held);
  } else {
    if (info.st_size > 0) note.kind = ResumeNote::kDiscarded;
    if (::ftruncate(fd.get(), 0) != 0) return false;
  }
  if (::ftruncate(fd.get(), static_cast<off_t>(identity.size)) != 0) return false;
  file_ = std::move(fd);
  return true;
}

bool RebuildFile::Map(int64_t size) {
  mappedLength_ = MappingLength(size);
  void* at = MAP_FAILED;
  if (file_.valid()) {
    at = ::mmap(nullptr, mappedLength_, PROT_READ | PROT_WRITE, MAP_SHARED, file_.get(), 0);
  } else {
    at = ::mmap(nullptr, mappedLength_, PROT_READ | PROT_WRITE,
                MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  }
  if (at == MAP_FAILED) return false;
  mapping_ = at;
  guard_ = std::make_unique<MappingGuard>(at, mappedLength_);
  bytes_ = {static_cast<uint8_t*>(at), static_cast<size_t>(size)};
  return true;
}

RebuildFile::~RebuildFile() {
  hasher_.reset();  // it reads the mapping
  // Cut off before it was whole: what it holds waits for the next rebuild.
  if (identity_ && !discard_ && !temporary_.path().empty() && held_.Bytes() > 0 && !Damaged()) {
    checkpointed_ = -1;
    Checkpoint();
    temporary_.Keep();
  }
  guard_.reset();
  if (mapping_ != nullptr) ::munmap(mapping_, mappedLength_);
}

void RebuildFile::Write(int64_t offset, std::span<const uint8_t> bytes) {
  if (offset < 0 || offset >= size()) return;
  bytes = bytes.first(static_cast<size_t>(std::min<int64_t>(std::ssize(bytes), size() - offset)));
  held_.Add(offset, std::ssize(bytes));
  ForEachDataPiece(offset, bytes, [this](int64_t at, std::span<const uint8_t> run) {
    if (!file_.valid()) {
      std::memcpy(bytes_.data() + at, run.data(), run.size());
    } else if (!WriteAll(file_.get(), run, static_cast<off_t>(at))) {
      writeFailed_ = true;  // a full disk, a size limit
    }
    return true;
  });
}

void RebuildFile::WriteZeros(int64_t offset, int64_t len) {
  held_.Add(offset, std::min(len, size() - offset));
}

void RebuildFile::Checkpoint() {
  if (!identity_ || !file_.valid() || held_.Bytes() == checkpointed_) return;
  const std::vector<uint8_t> trailer = PartialTrailer(*identity_, held_);
  // Longer first, then written: a record cut short fails its checksum.
  if (::ftruncate(file_.get(), static_cast<off_t>(size() + std::ssize(trailer))) != 0 ||
      !WriteAll(file_.get(), trailer, static_cast<off_t>(size()))) {
    return;
  }
  checkpointed_ = held_.Bytes();
  checkpointAt_ = std::chrono::steady_clock::now();
}

void RebuildFile::Filled(int64_t upTo) {
  upTo = std::clamp<int64_t>(upTo, 0, size());
  if (identity_ && std::chrono::steady_clock::now() - checkpointAt_ >= kCheckpointEvery) {
    Checkpoint();
  }
  if (hasher_) hasher_->Advance(upTo, kMostUnhashed);
  if (!file_.valid()) return;
  // The tail goes as soon as the file is whole, so that the flush before
  // the save waits for little while its hash is finished.
  while (upTo - writtenBack_ >= kWritebackPiece || (upTo == size() && writtenBack_ < upTo)) {
    const int64_t piece = std::min(kWritebackPiece, upTo - writtenBack_);
    ::sync_file_range(file_.get(), writtenBack_, piece, SYNC_FILE_RANGE_WRITE);
    writtenBack_ += piece;
  }
}

WholeFileHash RebuildFile::Sha256() {
  if (!hasher_) StartHashing();
  return hasher_->Finish(size());
}

void RebuildFile::StartHashing() {
  hasher_ = std::make_unique<HashBehind>(
      [this](int64_t from, int64_t to, Sha256Stream& stream) { HashRange(from, to, stream); });
}

// Holes are hashed as the zeros they read as, without reading them.
void RebuildFile::HashRange(int64_t from, int64_t to, Sha256Stream& stream) const {
  static const std::vector<uint8_t> zeros(size_t{1} << 20, 0);
  while (from < to) {
    const int64_t data = NextData(from);
    const bool hole = data > from;
    const int64_t end = std::min(hole ? data : NextHole(from), to);
    const auto len =
        static_cast<size_t>(hole ? std::min<int64_t>(end - from, std::ssize(zeros)) : end - from);
    stream.Feed(hole ? std::span(zeros).first(len)
                     : bytes_.subspan(static_cast<size_t>(from), len));
    from += static_cast<int64_t>(len);
  }
}

// Where data starts at or after offset; offset itself when the file system
// cannot say, so the bytes are then read.
int64_t RebuildFile::NextData(int64_t offset) const {
  if (!file_.valid()) return offset;
  const off_t at = ::lseek(file_.get(), offset, SEEK_DATA);
  if (at >= 0) return at;
  return errno == ENXIO ? size() : offset;
}

int64_t RebuildFile::NextHole(int64_t offset) const {
  if (!file_.valid()) return size();
  const off_t at = ::lseek(file_.get(), offset, SEEK_HOLE);
  return at > offset ? std::min<int64_t>(at, size()) : size();
}

SaveResult RebuildFile::SaveAs(const std::string& path) {
  if (path.empty()) return SaveResult::kCannotCreate;
  if (!file_.valid()) return SaveFileReplacing(path, bytes_);
  // A partial file's record of what it holds goes before the file does.
  if (Damaged() || ::ftruncate(file_.get(), static_cast<off_t>(size())) != 0 ||
      ::fsync(file_.get()) != 0) {
    return SaveResult::kWriteFailed;
  }
  const std::optional<SaveTarget> target = SaveTargetOf(path);
  if (!target) return SaveResult::kCannotCreate;
  if (target->mode) ::fchmod(file_.get(), *target->mode);
  // Another file system, or a folder that refuses the rename: copy instead.
  if (!MoveIntoPlace(temporary_, *target)) return SaveFileReplacing(path, bytes_);
  return SaveResult::kSaved;
}

}  // namespace kelpie
