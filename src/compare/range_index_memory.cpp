#include "compare/range_index_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace kelpie {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t Rounded(size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* MapIndexMemory(size_t bytes) {
  if (bytes == 0) return nullptr;
  const size_t length = Rounded(bytes);
  // Map one huge page more and trim, so the array starts on a huge-page boundary.
  void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) ::munmap(raw, aligned - start);
  const size_t tail = start + length + kHugePage - (aligned + length);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + length), tail);
  void* memory = reinterpret_cast<void*>(aligned);
  ::madvise(memory, length, MADV_HUGEPAGE);
  return memory;
}

void UnmapIndexMemory(void* memory, size_t bytes) {
  if (memory != nullptr) ::munmap(memory, Rounded(bytes));
}

}  // namespace kelpie
