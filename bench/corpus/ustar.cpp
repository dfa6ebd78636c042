#include "ustar.h"

#include <cstdio>
#include <cstring>

namespace kelpie::bench {
namespace {

constexpr int64_t kMtime = 1715644800;

// A zero-terminated octal number filling `width` bytes.
void Octal(char* field, size_t width, int64_t value) {
  std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1),
                static_cast<unsigned long long>(value));
}

}  // namespace

std::array<char, kTarBlock> TarFileHeader(const std::string& name, int64_t size) {
  std::array<char, kTarBlock> h{};
  std::memcpy(h.data(), name.data(), std::min<size_t>(name.size(), 100));
  Octal(&h[100], 8, 0644);
  Octal(&h[108], 8, 0);
  Octal(&h[116], 8, 0);
  Octal(&h[124], 12, size);
  Octal(&h[136], 12, kMtime);
  h[156] = '0';
  std::memcpy(&h[257], "ustar", 6);
  std::memcpy(&h[263], "00", 2);
  std::memcpy(&h[265], "root", 4);
  std::memcpy(&h[297], "root", 4);
  // The checksum is summed with its own field read as spaces.
  std::memset(&h[148], ' ', 8);
  unsigned sum = 0;
  for (char c : h)
    sum += static_cast<unsigned char>(c);
  std::snprintf(&h[148], 8, "%06o", sum);
  return h;
}

int64_t TarPadding(int64_t size) {
  return (kTarBlock - size % kTarBlock) % kTarBlock;
}

}  // namespace kelpie::bench
