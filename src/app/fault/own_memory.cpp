#include "app/fault/own_memory.h"

#include <sys/uio.h>
#include <unistd.h>

namespace kelpie {
namespace {

// The smallest page size of x86-64; splitting at it is never wrong on larger
// pages, and keeps this free of sysconf inside signal handlers.
constexpr uint64_t kPageSize = 4096;
constexpr size_t kMaxPieces = 8;

}  // namespace

// process_vm_readv on our own pid reports an unreadable address as EFAULT.
// It copies whole iovec pieces only, so the range is cut at page edges: a
// read that runs into an unmapped page still returns the readable head.
size_t ReadOwnMemory(uint64_t address, void* out, size_t size) {
  size_t total = 0;
  auto* target = static_cast<uint8_t*>(out);
  while (total < size) {
    iovec remote[kMaxPieces];
    size_t pieces = 0;
    size_t planned = total;
    while (planned < size && pieces < kMaxPieces) {
      const uint64_t at = address + planned;
      const uint64_t pageLeft = kPageSize - (at % kPageSize);
      const size_t length = size - planned < pageLeft ? size - planned : pageLeft;
      remote[pieces++] = {reinterpret_cast<void*>(at), length};
      planned += length;
    }
    iovec local = {target + total, planned - total};
    const ssize_t got = process_vm_readv(getpid(), &local, 1, remote, pieces, 0);
    if (got <= 0) break;
    total += static_cast<size_t>(got);
    if (total < planned) break;
  }
  return total;
}

}  // namespace kelpie
