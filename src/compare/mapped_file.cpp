#include "compare/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "common/unique_fd.h"
#include "compare/fingerprint.h"
#include "compare/job_loader.h"

namespace kelpie {
namespace {

// Zero pages of anonymous memory, allocated by the kernel only when written,
// which a read-only view never does.
// The start is aligned to a huge page, so zero runs can be read through huge
// zero pages.
void* MapZeros(size_t length) {
  constexpr size_t kHuge = size_t{2} << 20;
  void* at = ::mmap(nullptr, length + kHuge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                    -1, 0);
  if (at == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(at);
  const uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
  if (aligned > start) ::munmap(at, aligned - start);
  ::munmap(reinterpret_cast<void*>(aligned + length), start + kHuge - aligned);
  return reinterpret_cast<void*>(aligned);
}

// The holes of a sparse file are mapped as anonymous zeros rather than from
// the file: reading them then costs no page cache, and with huge pages few
// faults. (A hole written later by another program stays zeros in the view;
// the whole-file hash check tells.)
void MapHolesAsZeros(int fd, uint8_t* base, int64_t length) {
  const auto page = static_cast<int64_t>(::sysconf(_SC_PAGESIZE));
  int64_t at = 0;
  while (at < length) {
    const off_t hole = ::lseek(fd, at, SEEK_HOLE);
    if (hole < 0 || hole >= length) return;
    off_t data = ::lseek(fd, hole, SEEK_DATA);
    if (data < 0 || data > length) data = static_cast<off_t>(length);
    const int64_t from = (hole + page - 1) / page * page;
    const int64_t to = data / page * page;
    if (to > from) {
      void* zeros = ::mmap(base + from, static_cast<size_t>(to - from), PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
      if (zeros == MAP_FAILED) return;
      ::madvise(zeros, static_cast<size_t>(to - from), MADV_HUGEPAGE);
    }
    at = data;
  }
}

}  // namespace

std::shared_ptr<const MappedFile> MappedFile::Open(const std::string& path, int64_t size) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return nullptr;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return nullptr;
  std::shared_ptr<MappedFile> view(new MappedFile);
  view->modified_ = ModifiedTime(info);
  if (size <= 0) return view;
  view->mappedLength_ = MappingLength(size);
  view->mapping_ = MapZeros(view->mappedLength_);
  const int64_t inFile = S_ISREG(info.st_mode) ? std::min<int64_t>(info.st_size, size) : 0;
  const bool mapped = view->mapping_ != nullptr &&
                      (inFile == 0 || ::mmap(view->mapping_, static_cast<size_t>(inFile), PROT_READ,
                                             MAP_SHARED | MAP_FIXED, file.get(), 0) != MAP_FAILED);
  if (!mapped || !S_ISREG(info.st_mode)) {
    // Not a mappable file (a device, a pipe, a file system without mmap):
    // its bytes are read into memory instead.
    if (view->mapping_ != nullptr) ::munmap(view->mapping_, view->mappedLength_);
    view->mapping_ = nullptr;
    if (!LoadFileData(path, size, view->held_)) return nullptr;
    view->bytes_ = view->held_;
    return view;
  }
  MapHolesAsZeros(file.get(), static_cast<uint8_t*>(view->mapping_), inFile);
  view->guard_ = std::make_unique<MappingGuard>(view->mapping_, view->mappedLength_);
  view->bytes_ = {static_cast<const uint8_t*>(view->mapping_), static_cast<size_t>(size)};
  return view;
}

std::shared_ptr<const MappedFile> MappedFile::Zeros(int64_t size) {
  std::shared_ptr<MappedFile> view(new MappedFile);
  if (size <= 0) return view;
  view->mappedLength_ = MappingLength(size);
  view->mapping_ = MapZeros(view->mappedLength_);
  if (view->mapping_ == nullptr) return nullptr;
  view->bytes_ = {static_cast<const uint8_t*>(view->mapping_), static_cast<size_t>(size)};
  return view;
}

std::shared_ptr<const MappedFile> MappedFile::Hold(std::vector<uint8_t> bytes) {
  std::shared_ptr<MappedFile> view(new MappedFile);
  view->held_ = std::move(bytes);
  view->bytes_ = view->held_;
  return view;
}

bool MappedFile::Intact(std::span<const uint8_t> range) const {
  if (!guard_) return true;
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  for (size_t at = 0; at < range.size(); at += page)
    static_cast<void>(*static_cast<const volatile uint8_t*>(range.data() + at));
  if (!range.empty()) static_cast<void>(*static_cast<const volatile uint8_t*>(&range.back()));
  return !Damaged();
}

MappedFile::~MappedFile() {
  guard_.reset();
  if (mapping_ != nullptr) ::munmap(mapping_, mappedLength_);
}

}  // namespace kelpie
