#include "scenarios.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>

#include "common/unique_fd.h"

namespace kelpie::bench {
namespace {

constexpr int64_t kChunk = 1 << 20;
constexpr int64_t kShift = 1000;  // bytes inserted or deleted in the middle

// A reproducible stream of pseudo-random bytes; chunks are drawn in order.
class ByteStream {
 public:
  explicit ByteStream(uint64_t seed) : engine_(seed) {}
  void Fill(std::vector<char>& chunk) {
    for (size_t i = 0; i + 8 <= chunk.size(); i += 8) {
      uint64_t v = engine_();
      std::memcpy(chunk.data() + i, &v, 8);
    }
    for (size_t i = chunk.size() / 8 * 8; i < chunk.size(); ++i)
      chunk[i] = static_cast<char>(engine_());
  }

 private:
  std::mt19937_64 engine_;
};

// Writes `size` bytes of the stream, passing each chunk (with its file offset)
// through edit first.
bool WriteStream(const std::string& path, uint64_t seed, int64_t size,
                 const std::function<void(std::vector<char>&, int64_t)>& edit) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ByteStream stream(seed);
  std::vector<char> chunk;
  for (int64_t offset = 0; offset < size && out; offset += kChunk) {
    chunk.resize(static_cast<size_t>(std::min(kChunk, size - offset)));
    stream.Fill(chunk);
    edit(chunk, offset);
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  return static_cast<bool>(out);
}

// Copies src to dst with the byte range [at, at + erase) removed and
// `insert` new bytes put at `at`, then `append` new bytes at the end.
bool WriteEdited(const std::string& src, const std::string& dst, int64_t at, int64_t erase,
                 int64_t insert, int64_t append) {
  std::ifstream in(src, std::ios::binary);
  std::ofstream out(dst, std::ios::binary | std::ios::trunc);
  ByteStream extra(777);
  std::vector<char> chunk(kChunk);
  auto copy = [&](int64_t count) {
    while (count > 0 && in) {
      chunk.resize(static_cast<size_t>(std::min(kChunk, count)));
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      out.write(chunk.data(), in.gcount());
      count -= in.gcount();
    }
  };
  auto fresh = [&](int64_t count) {
    chunk.resize(static_cast<size_t>(count));
    extra.Fill(chunk);
    out.write(chunk.data(), count);
  };
  copy(at);
  in.seekg(erase, std::ios::cur);
  fresh(insert);
  copy(INT64_MAX);
  fresh(append);
  return static_cast<bool>(out);
}

}  // namespace

const std::vector<std::string>& ScenarioNames() {
  static const std::vector<std::string> names = {"identical", "edit",   "insert",
                                                 "delete",    "append", "disjoint"};
  return names;
}

bool WriteScenario(const std::string& name, int64_t size, const std::string& localPath,
                   const std::string& peerPath) {
  auto none = [](std::vector<char>&, int64_t) {};
  if (!WriteStream(localPath, 1, size, none)) return false;
  int64_t middle = size / 2;
  if (name == "identical") return WriteEdited(localPath, peerPath, 0, 0, 0, 0);
  if (name == "edit") {
    return WriteStream(peerPath, 1, size, [&](std::vector<char>& chunk, int64_t offset) {
      if (middle >= offset && middle < offset + static_cast<int64_t>(chunk.size())) {
        chunk[static_cast<size_t>(middle - offset)] ^= 0x5A;
      }
    });
  }
  if (name == "insert") return WriteEdited(localPath, peerPath, middle, 0, kShift, 0);
  if (name == "delete") return WriteEdited(localPath, peerPath, middle, kShift, 0, 0);
  if (name == "append")
    return WriteEdited(localPath, peerPath, 0, 0, 0, std::max<int64_t>(size / 16, 1));
  if (name == "disjoint") return WriteStream(peerPath, 2, size, none);
  return false;
}

bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  if (!x || !y) return false;
  std::vector<char> bx(kChunk), by(kChunk);
  while (true) {
    x.read(bx.data(), kChunk);
    y.read(by.data(), kChunk);
    if (x.gcount() != y.gcount()) return false;
    if (std::memcmp(bx.data(), by.data(), static_cast<size_t>(x.gcount())) != 0) return false;
    if (x.gcount() < kChunk) return true;
  }
}

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// Written back first, so that the blocks the file system adds to map the
// file count as they will for good, as they do for a saved file.
int64_t DiskBytes(const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.valid()) ::fsync(file.get());
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? int64_t{info.st_blocks} * 512 : -1;
}

}  // namespace kelpie::bench
