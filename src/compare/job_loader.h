#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpie {

// Makes data a zero-filled buffer of `size` bytes (none for a size of 0 or
// less) and reads the first `size` bytes of the file into it with large
// sequential reads. A file shorter than `size`, or one that fails part way,
// leaves the rest zero. False when the file cannot be opened (data stays all
// zero) or the buffer cannot be allocated (data is empty).
bool LoadFileData(const std::string& path, int64_t size, std::vector<uint8_t>& data);

}  // namespace kelpie
