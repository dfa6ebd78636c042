#include "dialog_seam.h"

#include <fstream>
#include <memory>

#include "app/fault/error_reporter.h"

namespace kelpie::test {

void RegisterAnsweredReporter(const ReportChannel& channel, std::vector<bool> answers) {
  auto remaining = std::make_shared<std::vector<bool>>(std::move(answers));
  auto next = std::make_shared<size_t>(0);
  SetErrorDialog([channel, remaining, next](std::string_view title, std::string_view text) {
    channel.Send("title", title);
    channel.Send("text", text);
    const size_t index = (*next)++;
    return index < remaining->size() && (*remaining)[index];
  });
  RegisterErrorHandler(ErrorHandler);
}

std::string DialogField(std::string_view text, std::string_view label) {
  const std::string key = std::string(label) + ": ";
  const size_t start = text.find(key);
  if (start == std::string_view::npos) return "<missing " + key + ">";
  const size_t from = start + key.size();
  const size_t end = text.find("\r\n", from);
  return std::string(text.substr(from, end == std::string_view::npos ? end : end - from));
}

int MarkerLine(const char* file, std::string_view name) {
  const std::string marker = "// FAULT(" + std::string(name) + ")";
  std::ifstream source(file);
  std::string line;
  for (int number = 1; std::getline(source, line); ++number) {
    if (line.find(marker) != std::string::npos) return number;
  }
  return -1;
}

}  // namespace kelpie::test
