#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kelpie::bench {

inline constexpr int64_t kTarBlock = 512;

// The header block of a regular file in a ustar archive, with a fixed
// owner, mode and time so archives of the same files are byte-identical.
// The name must fit the 100-byte name field.
std::array<char, kTarBlock> TarFileHeader(const std::string& name, int64_t size);

// Zero bytes that pad content of `size` bytes to whole blocks.
int64_t TarPadding(int64_t size);

}  // namespace kelpie::bench
