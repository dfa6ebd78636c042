#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelpie {

enum class SaveResult {
  kSaved,          // the whole file is on disk under its name
  kCannotCreate,   // no file could be created in the target folder
  kWriteFailed,    // writing or flushing failed; nothing was replaced
  kReplaceFailed,  // the finished file could not be moved into place
};

// Writes bytes to a new file in the target's folder, flushes it to disk and
// renames it over the target, so that the target is either left as it was or
// replaced by the whole new file. A replaced file keeps its permissions; a
// symbolic link is followed to the file it names. On failure the temporary
// file is removed.
SaveResult SaveFileReplacing(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace kelpie
