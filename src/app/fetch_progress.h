#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelpie {

enum class FetchPhase { kConnecting, kComparing, kFetching };

// Where a fetch stands: bytes of its phase done out of the phase's total
// (the local file's while comparing, the peer's while fetching).
struct FetchProgress {
  FetchPhase phase = FetchPhase::kConnecting;
  int64_t done = 0;
  int64_t total = 0;
};

// "fetching  12.0 MiB of 64.0 MiB  8.0 MiB/s  0:07 left": the phase, its
// bytes, the rate since the phase began (seconds ago) and the time left at
// that rate.
std::string ProgressText(const FetchProgress& progress, double seconds);

// "12.3 MiB": bytes in binary units, one decimal from KiB on.
std::string ByteText(int64_t bytes);

// Keeps one progress line on a terminal: redrawn in place, at most ten times
// a second, and wiped before anything else is written there.
class ProgressLine {
 public:
  explicit ProgressLine(int fd) : fd_(fd) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { Clear(); }

  void Show(const FetchProgress& progress);
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  void Write(const std::string& text);

  int fd_;
  FetchPhase phase_ = FetchPhase::kConnecting;
  Clock::time_point phaseStart_ = Clock::now();
  Clock::time_point drawn_{};
  bool shown_ = false;
};

}  // namespace kelpie
