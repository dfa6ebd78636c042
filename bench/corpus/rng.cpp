#include "rng.h"

#include <cstring>

namespace kelpie::bench {

int64_t Rng::Between(int64_t low, int64_t high) {
  uint64_t span = static_cast<uint64_t>(high - low) + 1;
  return low + static_cast<int64_t>(span == 0 ? Next() : Next() % span);
}

void Rng::Fill(std::span<char> bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t v = Next();
    std::memcpy(bytes.data() + i, &v, 8);
  }
  for (; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(Next());
}

}  // namespace kelpie::bench
