#pragma once

#include <poll.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace kelpie {

// Waits until the window has something to report, a watched descriptor is
// ready, or a timeout passes: for a moment on the descriptors alone, then
// inside Qt's event loop. One socket notifier per
// descriptor and direction is kept between waits while the set of
// descriptors stays the same; notifiers are switched off between waits so
// that a socket nobody has read yet does not keep waking the event loop.
class IdleWait : public QObject {
  Q_OBJECT

 public:
  // windowHasEvent tells whether the window already has an event to report.
  explicit IdleWait(std::function<bool()> windowHasEvent);
  ~IdleWait() override;

  // A negative timeout waits without a time limit, as poll() does.
  void Wait(const std::vector<pollfd>& fds, int timeoutMs);

  // How many notifiers exist now (for tests of their reuse).
  size_t NotifierCount() const { return notifiers_.size(); }
  const QSocketNotifier* Notifier(size_t i) const { return notifiers_[i].get(); }

 private:
  using Watch = std::pair<int, QSocketNotifier::Type>;

  // The longest wait on the descriptors alone, before Qt's event loop joins.
  static constexpr int kDirectWaitMs = 1;

  void WatchDescriptors(const std::vector<pollfd>& fds);
  bool ReadyWithin(const std::vector<pollfd>& fds, int timeoutMs);
  void EnableNotifiers(bool enabled);

  std::function<bool()> windowHasEvent_;
  std::vector<Watch> watched_;
  std::vector<pollfd> polled_;  // poll() writes its results here
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
  QTimer timer_;
  bool woken_ = false;
};

}  // namespace kelpie
