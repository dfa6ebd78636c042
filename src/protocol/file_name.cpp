#include "protocol/file_name.h"

#include <cstdint>
#include <limits>

namespace kelpie {

std::string FileNamePart(std::string_view path) {
  if (!path.empty() && path.front() == '"') path.remove_prefix(1);
  size_t separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos) path.remove_prefix(separator + 1);
  size_t quote = path.find('"');
  if (quote != std::string_view::npos) path = path.substr(0, quote);
  return std::string(path);
}

int32_t DecimalValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      value = std::numeric_limits<int32_t>::max();
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace kelpie
