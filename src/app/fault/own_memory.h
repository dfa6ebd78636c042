#pragma once

#include <cstddef>
#include <cstdint>

namespace kelpie {

// Copies up to size bytes of this process's memory at address into out and
// returns how many leading bytes could be read. Unmapped or unreadable pages
// end the copy instead of raising a fault, so this is safe on addresses taken
// from a faulting context. Async-signal-safe.
size_t ReadOwnMemory(uint64_t address, void* out, size_t size);

}  // namespace kelpie
