#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelpie::test {

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes a file under the directory and returns its full path.
  std::string Write(std::string_view name, const std::vector<uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);

}  // namespace kelpie::test
