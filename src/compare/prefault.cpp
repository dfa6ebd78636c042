#include "compare/prefault.h"

#include <sys/mman.h>
#include <unistd.h>

namespace kelpie {

void PrefaultForReading(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  static const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(bytes.data()) & ~(page - 1);
  const auto end = reinterpret_cast<uintptr_t>(bytes.data() + bytes.size());
  ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_READ);
}

}  // namespace kelpie
