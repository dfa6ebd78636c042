#include "support/sample_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "compare/partial_file.h"
#include "support/require.h"

namespace kelpie::fuzz {
namespace {

// In memory: a finished synchronisation saves through fsync, which costs a
// disk's latency per run anywhere else.
constexpr char kFolder[] = "/dev/shm/kelpie-fuzz";

std::vector<uint8_t> Text(size_t size) {
  std::vector<uint8_t> bytes;
  for (int line = 0; bytes.size() < size; ++line) {
    const std::string text = "line " + std::to_string(line) + " of the sample file\n";
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  bytes.resize(size);
  return bytes;
}

// Text, then zeros long enough to be sent as a zero piece, then noise that
// matches nothing.
std::vector<uint8_t> Mixed() {
  std::vector<uint8_t> bytes = Text(3072);
  bytes.resize(bytes.size() + 5120, 0);
  uint32_t x = 2463534242u;
  while (bytes.size() < 12288) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes.push_back(static_cast<uint8_t>(x));
  }
  return bytes;
}

// Writes the file unless it already holds exactly these bytes; through a
// rename, so another fuzzing process never reads half a file.
void Provide(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (in && std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}) == bytes) return;
  const std::string temporary = path + "." + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    Require(out.good(), "cannot write a sample file");
  }
  Require(std::rename(temporary.c_str(), path.c_str()) == 0, "cannot place a sample file");
}

// Makes the samples; the saved file, this process's own, goes at exit.
struct Made {
  explicit Made(const char* role) {
    const std::string folder = std::string(kFolder) + "/" + role;
    ::mkdir(kFolder, 0700);
    ::mkdir(folder.c_str(), 0700);
    files = {folder + "/mixed.bin", folder + "/empty.bin", folder + "/small.txt",
             folder + "/missing.bin", folder + "/saved-" + std::to_string(::getpid())};
    Provide(files.mixed, Mixed());
    Provide(files.empty, {});
    Provide(files.small, Text(1500));
  }
  ~Made() { std::remove(files.saveAs.c_str()); }
  SampleFiles files;
};

}  // namespace

const SampleFiles& Samples(bool serverRole) {
  static const Made server("server");
  static const Made client("client");
  return serverRole ? server.files : client.files;
}

void ClearLeftovers(const SampleFiles& samples) {
  for (const std::string* path : {&samples.mixed, &samples.empty, &samples.small})
    std::remove(PartialPathFor(*path).c_str());
}

}  // namespace kelpie::fuzz
