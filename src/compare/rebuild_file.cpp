#include "compare/rebuild_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "compare/zero_bytes.h"

namespace kelpie {
namespace {

constexpr int64_t kWritebackPiece = int64_t{8} << 20;

}  // namespace

std::unique_ptr<RebuildFile> RebuildFile::Create(const std::string& besidePath, int64_t size,
                                                 bool hashed) {
  std::unique_ptr<RebuildFile> rebuilt(new RebuildFile);
  if (hashed) rebuilt->sha_ = std::make_unique<Sha256Stream>();
  if (size <= 0) return rebuilt;
  rebuilt->mappedLength_ = MappingLength(size);
  if (!besidePath.empty()) rebuilt->file_.Reset(rebuilt->temporary_.Create(besidePath));
  void* at = MAP_FAILED;
  if (rebuilt->file_.valid()) {
    if (::ftruncate(rebuilt->file_.get(), static_cast<off_t>(size)) != 0) return nullptr;
    at = ::mmap(nullptr, rebuilt->mappedLength_, PROT_READ | PROT_WRITE, MAP_SHARED,
                rebuilt->file_.get(), 0);
  } else {
    at = ::mmap(nullptr, rebuilt->mappedLength_, PROT_READ | PROT_WRITE,
                MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  }
  if (at == MAP_FAILED) return nullptr;
  rebuilt->mapping_ = at;
  rebuilt->guard_ = std::make_unique<MappingGuard>(at, rebuilt->mappedLength_);
  rebuilt->bytes_ = {static_cast<uint8_t*>(at), static_cast<size_t>(size)};
  return rebuilt;
}

RebuildFile::~RebuildFile() {
  guard_.reset();
  if (mapping_ != nullptr) ::munmap(mapping_, mappedLength_);
}

void RebuildFile::Write(int64_t offset, std::span<const uint8_t> bytes) {
  if (offset < 0 || offset >= size()) return;
  bytes = bytes.first(static_cast<size_t>(std::min<int64_t>(std::ssize(bytes), size() - offset)));
  ForEachDataPiece(offset, bytes, [this](int64_t at, std::span<const uint8_t> run) {
    std::memcpy(bytes_.data() + at, run.data(), run.size());
    return true;
  });
}

void RebuildFile::Filled(int64_t upTo) {
  upTo = std::clamp<int64_t>(upTo, 0, size());
  if (sha_) HashUpTo(upTo);
  if (!file_.valid()) return;
  while (upTo - writtenBack_ >= kWritebackPiece) {
    ::sync_file_range(file_.get(), writtenBack_, kWritebackPiece, SYNC_FILE_RANGE_WRITE);
    writtenBack_ += kWritebackPiece;
  }
}

WholeFileHash RebuildFile::Sha256() {
  if (!sha_) sha_ = std::make_unique<Sha256Stream>();
  HashUpTo(size());
  // The stream is finished once; a second call starts a new one.
  const WholeFileHash digest = sha_->Finish();
  sha_ = std::make_unique<Sha256Stream>();
  hashed_ = 0;
  return digest;
}

// Holes are hashed from a block of zeros rather than read, so they are not
// brought into the page cache.
void RebuildFile::HashUpTo(int64_t upTo) {
  static const std::vector<uint8_t> zeros(size_t{1} << 20, 0);
  while (hashed_ < upTo) {
    const int64_t data = NextData(hashed_);
    const bool hole = data > hashed_;
    const int64_t end = std::min(hole ? data : NextHole(hashed_), upTo);
    const auto len = static_cast<size_t>(hole ? std::min<int64_t>(end - hashed_, std::ssize(zeros))
                                              : end - hashed_);
    sha_->Feed(hole ? std::span(zeros).first(len)
                    : bytes_.subspan(static_cast<size_t>(hashed_), len));
    hashed_ += static_cast<int64_t>(len);
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
  if (Damaged() || ::fsync(file_.get()) != 0) return SaveResult::kWriteFailed;
  const std::optional<SaveTarget> target = SaveTargetOf(path);
  if (!target) return SaveResult::kCannotCreate;
  if (target->mode) ::fchmod(file_.get(), *target->mode);
  // Another file system, or a folder that refuses the rename: copy instead.
  if (!MoveIntoPlace(temporary_, *target)) return SaveFileReplacing(path, bytes_);
  return SaveResult::kSaved;
}

}  // namespace kelpie
