#pragma once

#include <string>
#include <string_view>

namespace kelpie {

// Older log text kept when a line is appended.
inline constexpr size_t kLogKeep = 20000;

// The log box's text after appending one line: the last kLogKeep characters
// of the old text (cut wherever that falls), CR LF, the line.
std::string AppendLogLine(std::string_view text, std::string_view line);

}  // namespace kelpie
