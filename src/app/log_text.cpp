#include "app/log_text.h"

namespace kelpie {

std::string AppendLogLine(std::string_view text, std::string_view line) {
  if (text.size() > kLogKeep) text = text.substr(text.size() - kLogKeep);
  std::string result;
  result.reserve(text.size() + 2 + line.size());
  result.append(text).append("\r\n").append(line);
  return result;
}

}  // namespace kelpie
