#include "compare/rebuild_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "compare/zero_bytes.h"

namespace kelpie {
namespace {

constexpr int64_t kWritebackPiece = int64_t{8} << 20;

size_t PageRounded(int64_t size) {
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return (static_cast<size_t>(size) + page - 1) / page * page;
}

}  // namespace

std::unique_ptr<RebuildFile> RebuildFile::Create(const std::string& besidePath, int64_t size) {
  std::unique_ptr<RebuildFile> rebuilt(new RebuildFile);
  if (size <= 0) return rebuilt;
  rebuilt->mappedLength_ = PageRounded(size);
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

void RebuildFile::StartWriteback(int64_t upTo) {
  if (!file_.valid()) return;
  while (upTo - writtenBack_ >= kWritebackPiece) {
    ::sync_file_range(file_.get(), writtenBack_, kWritebackPiece, SYNC_FILE_RANGE_WRITE);
    writtenBack_ += kWritebackPiece;
  }
}

SaveResult RebuildFile::SaveAs(const std::string& path) {
  if (path.empty()) return SaveResult::kCannotCreate;
  if (!file_.valid()) return SaveFileReplacing(path, bytes_);
  if (Damaged() || ::fsync(file_.get()) != 0) return SaveResult::kWriteFailed;
  const std::string target = ResolveTarget(path);
  struct stat existing {};
  const bool replacing = ::stat(target.c_str(), &existing) == 0;
  if (replacing && S_ISDIR(existing.st_mode)) return SaveResult::kCannotCreate;
  if (replacing) ::fchmod(file_.get(), existing.st_mode & 07777);
  // Another file system, or a folder that refuses the rename: copy instead.
  if (::rename(temporary_.path().c_str(), target.c_str()) != 0) {
    return SaveFileReplacing(path, bytes_);
  }
  temporary_.Keep();
  SyncFolderOf(target);
  return SaveResult::kSaved;
}

}  // namespace kelpie
