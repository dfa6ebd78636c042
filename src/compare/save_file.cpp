#include "compare/save_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/unique_fd.h"
#include "compare/temporary_file.h"
#include "compare/zero_bytes.h"

namespace kelpie {
namespace {

// Written in pieces, each sent on its way to the disk as soon as it is in the
// page cache, so the closing fsync waits for the last piece rather than for
// the whole file. Pages of zeros are skipped and stay holes.
constexpr size_t kWritePiece = size_t{8} << 20;

bool WriteAt(int fd, int64_t offset, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  for (size_t done = 0; done < bytes.size(); done += kWritePiece) {
    const auto piece = bytes.subspan(done, std::min(kWritePiece, bytes.size() - done));
    const auto offset = static_cast<int64_t>(done);
    if (!ForEachDataPiece(offset, piece, [fd](int64_t at, std::span<const uint8_t> data) {
          return WriteAt(fd, at, data);
        })) {
      return false;
    }
    ::sync_file_range(fd, offset, static_cast<off_t>(piece.size()), SYNC_FILE_RANGE_WRITE);
  }
  return ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
}

}  // namespace

SaveResult SaveFileReplacing(const std::string& path, std::span<const uint8_t> bytes) {
  const std::optional<SaveTarget> target = SaveTargetOf(path);
  if (!target) return SaveResult::kCannotCreate;
  TemporaryFile temporary;
  UniqueFd file(temporary.Create(target->path));
  if (!file.valid()) return SaveResult::kCannotCreate;
  if (target->mode) ::fchmod(file.get(), *target->mode);
  if (!WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.Close()) {
    return SaveResult::kWriteFailed;
  }
  return MoveIntoPlace(temporary, *target) ? SaveResult::kSaved : SaveResult::kReplaceFailed;
}

}  // namespace kelpie
