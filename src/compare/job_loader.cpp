#include "compare/job_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/unique_fd.h"

namespace kelpie {

bool LoadFileData(const std::string& path, int64_t size, std::vector<uint8_t>& data) {
  data.clear();
  try {
    if (size > 0) data.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return false;
  if (data.empty()) return true;
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  // One read for the whole file; the loop only continues where the kernel
  // hands out less at a time.
  size_t done = 0;
  while (done < data.size()) {
    ssize_t got = ::read(file.get(), data.data() + done, data.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace kelpie
