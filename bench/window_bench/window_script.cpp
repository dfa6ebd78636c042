#include "window_script.h"

namespace kelpie::bench {
namespace {

// Often enough not to add to a timed step, rarely enough not to load the loop.
constexpr int kPollMs = 2;

}  // namespace

WindowScript::WindowScript(std::vector<Step> steps, double timeoutSeconds,
                           std::function<void(const std::string&)> finish)
    : steps_(std::move(steps)), finish_(std::move(finish)) {
  connect(&poll_, &QTimer::timeout, this, &WindowScript::Poll);
  deadline_.setSingleShot(true);
  deadline_.setInterval(static_cast<int>(timeoutSeconds * 1000));
  connect(&deadline_, &QTimer::timeout, this, [this] { Finish(steps_[next_].name); });
}

void WindowScript::Start() {
  poll_.start(kPollMs);
  deadline_.start();
}

void WindowScript::Poll() {
  while (next_ < steps_.size() && steps_[next_].ready()) {
    steps_[next_++].act();
  }
  if (next_ == steps_.size()) Finish("");
}

void WindowScript::Finish(const std::string& stuckAt) {
  poll_.stop();
  deadline_.stop();
  if (finish_) std::exchange(finish_, nullptr)(stuckAt);
}

}  // namespace kelpie::bench
