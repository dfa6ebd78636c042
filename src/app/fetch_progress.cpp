#include "app/fetch_progress.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace kelpie {
namespace {

constexpr std::chrono::milliseconds kRedrawEvery{100};
// Erases from the cursor to the end of the line.
constexpr char kEraseLine[] = "\r\033[K";

const char* PhaseName(FetchPhase phase) {
  switch (phase) {
    case FetchPhase::kConnecting:
      return "connecting";
    case FetchPhase::kComparing:
      return "comparing";
    case FetchPhase::kFetching:
      return "fetching";
  }
  return "";
}

std::string DurationText(double seconds) {
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

std::string ByteText(int64_t bytes) {
  static constexpr std::array<const char*, 5> kUnits{"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  for (; value >= 1024 && unit + 1 < kUnits.size(); ++unit)
    value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string ProgressText(const FetchProgress& progress, double seconds) {
  std::string text = PhaseName(progress.phase);
  if (progress.phase == FetchPhase::kConnecting) return text;
  text += "  " + ByteText(progress.done) + " of " + ByteText(progress.total);
  const double rate = seconds > 0 ? static_cast<double>(progress.done) / seconds : 0;
  if (rate <= 0) return text + "  --:-- left";
  text += "  " + ByteText(static_cast<int64_t>(rate)) + "/s  ";
  return text + DurationText(static_cast<double>(progress.total - progress.done) / rate) + " left";
}

void ProgressLine::Show(const FetchProgress& progress) {
  const Clock::time_point now = Clock::now();
  if (progress.phase != phase_) {
    phase_ = progress.phase;
    phaseStart_ = now;
  } else if (shown_ && now - drawn_ < kRedrawEvery) {
    return;
  }
  drawn_ = now;
  shown_ = true;
  Write(kEraseLine +
        ProgressText(progress, std::chrono::duration<double>(now - phaseStart_).count()));
}

void ProgressLine::Clear() {
  if (!shown_) return;
  shown_ = false;
  Write(kEraseLine);
}

void ProgressLine::Write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd_, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    // A terminal that takes nothing more only loses the progress line.
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

}  // namespace kelpie
