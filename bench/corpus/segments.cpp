#include "segments.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "common/unique_fd.h"
#include "rng.h"

namespace kelpie::bench {
namespace {

constexpr int64_t kChunk = 1 << 20;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyRange(int from, int to, Segment segment, std::vector<char>& buffer) {
  for (int64_t done = 0; done < segment.length;) {
    size_t want = static_cast<size_t>(std::min(kChunk, segment.length - done));
    ssize_t n = ::pread(from, buffer.data(), want, segment.offset + done);
    if (n <= 0 || !WriteAll(to, buffer.data(), static_cast<size_t>(n))) return false;
    done += n;
  }
  return true;
}

UniqueFd Create(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

}  // namespace

bool WriteSegments(const std::string& localPath, const std::string& peerPath,
                   const std::vector<Segment>& segments) {
  UniqueFd local(::open(localPath.c_str(), O_RDONLY | O_CLOEXEC));
  UniqueFd peer = Create(peerPath);
  if (!local.valid() || !peer.valid()) return false;
  std::vector<char> buffer(kChunk);
  for (const Segment& segment : segments) {
    if (!CopyRange(local.get(), peer.get(), segment, buffer)) return false;
  }
  return peer.Close();
}

bool WriteRandomFile(const std::string& path, int64_t size, uint64_t seed) {
  UniqueFd fd = Create(path);
  if (!fd.valid()) return false;
  Rng rng(seed);
  std::vector<char> buffer;
  for (int64_t done = 0; done < size; done += static_cast<int64_t>(buffer.size())) {
    buffer.resize(static_cast<size_t>(std::min(kChunk, size - done)));
    rng.Fill(buffer);
    if (!WriteAll(fd.get(), buffer.data(), buffer.size())) return false;
  }
  return fd.Close();
}

}  // namespace kelpie::bench
