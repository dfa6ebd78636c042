#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelpie {

// Makes bytes a zero-filled buffer of `size` bytes. A large one asks for
// huge pages first, so filling it costs a few page faults rather than one per
// 4 KiB page, which for a file of many MiB is most of the time spent loading
// it. Throws std::bad_alloc as resize does.
void ResizeLarge(std::vector<uint8_t>& bytes, size_t size);

}  // namespace kelpie
