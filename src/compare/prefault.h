#pragma once

#include <cstdint>
#include <span>

namespace kelpie {

// Asks the kernel to map the pages under bytes now, in one call, rather than
// a few at a time as each is first read: a pass over a mapped file that the
// page cache holds then runs at memory speed. Only a hint: for bytes that are
// no mapping, or where the kernel cannot, nothing changes, and a file cut
// short under the mapping gives an error here, never a signal.
void PrefaultForReading(std::span<const uint8_t> bytes);

}  // namespace kelpie
