#include "app/qt/idle_wait.h"

#include <QCoreApplication>
#include <algorithm>

namespace kelpie {
namespace {

std::vector<std::pair<int, QSocketNotifier::Type>> WatchesFor(const std::vector<pollfd>& fds) {
  std::vector<std::pair<int, QSocketNotifier::Type>> watches;
  for (const pollfd& entry : fds) {
    if (entry.fd < 0) continue;  // poll() skips negative descriptors too
    if (entry.events & (POLLIN | POLLPRI)) watches.emplace_back(entry.fd, QSocketNotifier::Read);
    if (entry.events & POLLOUT) watches.emplace_back(entry.fd, QSocketNotifier::Write);
  }
  // Qt allows one notifier per descriptor and type.
  std::sort(watches.begin(), watches.end());
  watches.erase(std::unique(watches.begin(), watches.end()), watches.end());
  return watches;
}

}  // namespace

IdleWait::IdleWait(std::function<bool()> windowHasEvent)
    : windowHasEvent_(std::move(windowHasEvent)) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { woken_ = true; });
}

IdleWait::~IdleWait() = default;

void IdleWait::WatchDescriptors(const std::vector<pollfd>& fds) {
  std::vector<Watch> wanted = WatchesFor(fds);
  if (wanted == watched_) return;
  notifiers_.clear();
  watched_ = std::move(wanted);
  for (const auto& [fd, type] : watched_) {
    auto notifier = std::make_unique<QSocketNotifier>(fd, type);
    notifier->setEnabled(false);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] { woken_ = true; });
    notifiers_.push_back(std::move(notifier));
  }
}

void IdleWait::EnableNotifiers(bool enabled) {
  for (auto& notifier : notifiers_)
    notifier->setEnabled(enabled);
}

bool IdleWait::ReadyWithin(const std::vector<pollfd>& fds, int timeoutMs) {
  if (fds.empty() || timeoutMs == 0) return false;
  polled_ = fds;
  return ::poll(polled_.data(), polled_.size(), timeoutMs) > 0;
}

void IdleWait::Wait(const std::vector<pollfd>& fds, int timeoutMs) {
  if (windowHasEvent_()) return;
  WatchDescriptors(fds);
  // A peer in the middle of an exchange answers within a moment. Waiting for
  // that in poll() alone wakes as cheaply as a program without a window; a
  // turn of Qt's event loop costs more than the answer takes to handle. The
  // window's own events wait that moment for the next pass.
  const int direct = timeoutMs < 0 ? kDirectWaitMs : std::min(timeoutMs, kDirectWaitMs);
  if (ReadyWithin(fds, direct)) return;
  if (timeoutMs > 0) timeoutMs -= direct;
  woken_ = false;
  EnableNotifiers(true);
  if (timeoutMs >= 0) timer_.start(timeoutMs);
  while (!woken_ && !windowHasEvent_()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  timer_.stop();
  EnableNotifiers(false);
}

}  // namespace kelpie
