#include "compare/temporary_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <random>

#include "common/unique_fd.h"

namespace kelpie {

TemporaryFile::~TemporaryFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

namespace {

// Writing past the file size limit must fail like a full disk, not end the
// program.
void IgnoreSizeLimitSignal() {
  static std::once_flag ignoreSizeLimit;
  std::call_once(ignoreSizeLimit, [] { ::signal(SIGXFSZ, SIG_IGN); });
}

}  // namespace

void TemporaryFile::Adopt(const std::string& path) {
  IgnoreSizeLimitSignal();
  path_ = path;
}

int TemporaryFile::Create(const std::string& target) {
  IgnoreSizeLimitSignal();
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  // Cut so that the temporary name stays within the length a name may have.
  const std::string name =
      (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = folder + "." + name + ".kelpie-" + std::to_string(seed() % 1000000000);
    // 0666 lets the umask decide, as for any newly created file.
    int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      path_ = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

namespace {

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

std::optional<SaveTarget> SaveTargetOf(const std::string& path) {
  if (path.empty()) return std::nullopt;
  SaveTarget target{ResolveTarget(path), std::nullopt};
  struct stat existing {};
  if (::stat(target.path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return std::nullopt;
    target.mode = existing.st_mode & 07777;
  }
  return target;
}

bool MoveIntoPlace(TemporaryFile& temporary, const SaveTarget& target) {
  if (::rename(temporary.path().c_str(), target.path.c_str()) != 0) return false;
  temporary.Keep();
  SyncFolderOf(target.path);
  return true;
}

}  // namespace kelpie
