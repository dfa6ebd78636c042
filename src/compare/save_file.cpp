#include "compare/save_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

#include "common/unique_fd.h"

namespace kelpie {
namespace {

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates a fresh file beside target and returns its descriptor; -1 when
  // the folder refuses it.
  int Create(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    // Cut so that the temporary name stays within the length a name may have.
    const std::string name =
        (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string candidate =
          folder + "." + name + ".kelpie-" + std::to_string(seed() % 1000000000);
      // 0666 lets the umask decide, as for any newly created file.
      int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        path_ = candidate;
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
    return -1;
  }
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Written in pieces, each sent on its way to the disk as soon as it is in the
// page cache, so the closing fsync waits for the last piece rather than for
// the whole file.
constexpr size_t kWritePiece = size_t{8} << 20;

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t want = std::min(kWritePiece, bytes.size() - done);
    ssize_t written = ::write(fd, bytes.data() + done, want);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    ::sync_file_range(fd, static_cast<off_t>(done), written, SYNC_FILE_RANGE_WRITE);
    done += static_cast<size_t>(written);
  }
  return true;
}

// The file a path names: a symbolic link is followed, so saving over a link
// replaces the file it points to and keeps the link.
std::string ResolveTarget(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

void SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

}  // namespace

SaveResult SaveFileReplacing(const std::string& path, std::span<const uint8_t> bytes) {
  if (path.empty()) return SaveResult::kCannotCreate;
  const std::string target = ResolveTarget(path);
  struct stat existing {};
  const bool replacing = ::stat(target.c_str(), &existing) == 0;
  if (replacing && S_ISDIR(existing.st_mode)) return SaveResult::kCannotCreate;

  TemporaryFile temporary;
  UniqueFd file(temporary.Create(target));
  if (!file.valid()) return SaveResult::kCannotCreate;
  if (replacing) ::fchmod(file.get(), existing.st_mode & 07777);
  if (!WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.Close()) {
    return SaveResult::kWriteFailed;
  }
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) return SaveResult::kReplaceFailed;
  temporary.Keep();
  SyncFolderOf(target);
  return SaveResult::kSaved;
}

}  // namespace kelpie
