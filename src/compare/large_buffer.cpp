#include "compare/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace kelpie {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void ResizeLarge(std::vector<uint8_t>& bytes, size_t size) {
  if (size >= kHugePage && bytes.capacity() < size) {
    std::vector<uint8_t>().swap(bytes);
    bytes.reserve(size);
    // Only whole huge pages inside the buffer can be backed by one.
    const auto begin = reinterpret_cast<uintptr_t>(bytes.data());
    const uintptr_t aligned = (begin + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned + kHugePage <= begin + size) {
      ::madvise(reinterpret_cast<void*>(aligned), (begin + size - aligned) & ~(kHugePage - 1),
                MADV_HUGEPAGE);
    }
  }
  bytes.resize(size);
}

}  // namespace kelpie
