#include "anon_peak.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kelpie::bench {
namespace {

// Often enough to catch a buffer that lives for a few passes, rarely enough
// that reading the status file costs the measured process nothing to speak of.
constexpr auto kSampleInterval = std::chrono::milliseconds(5);

}  // namespace

int64_t StatusKib(pid_t pid, const char* field) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[4096];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return -1;
  text[n] = '\0';
  size_t length = std::strlen(field);
  for (const char* line = text; *line != '\0';) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      return std::strtoll(line + length + 1, nullptr, 10);
    }
    const char* end = std::strchr(line, '\n');
    if (end == nullptr) break;
    line = end + 1;
  }
  return -1;
}

AnonPeak::AnonPeak(pid_t pid) : pid_(pid) {
  thread_ = std::jthread([this](std::stop_token stop) {
    while (!stop.stop_requested()) {
      Sample();
      std::this_thread::sleep_for(kSampleInterval);
    }
  });
}

int64_t AnonPeak::Stop() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
    Sample();
  }
  return peak_;
}

void AnonPeak::Sample() {
  peak_ = std::max(peak_, StatusKib(pid_, "RssAnon"));
}

}  // namespace kelpie::bench
