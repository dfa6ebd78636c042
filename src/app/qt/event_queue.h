#pragma once

#include <QObject>
#include <deque>
#include <utility>
#include <vector>

#include "app/window_events.h"

class QAbstractButton;
class QTreeWidget;

namespace kelpie {

// Collects what the user does with the controls as control events, and a
// close request, for the main loop to take one at a time.
class EventQueue : public QObject {
  Q_OBJECT

 public:
  EventQueue() = default;

  // A click of the button queues its id.
  void WatchButton(QAbstractButton* button, int id);
  // Left and right clicks, double-clicks, activation and selection or
  // current-item changes of the list queue its id.
  void WatchList(QTreeWidget* list, int id);

  void RequestClose();
  // The oldest control event, else one Close after a close request, else
  // None.
  WindowEvent Take();
  bool HasPending() const;

  // While muted (the program itself changing a list), nothing is queued.
  void SetMuted(bool muted) { muted_ = muted; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Push(int id);
  void PushListEvent(int id);

  std::deque<int> pending_;
  bool closeRequested_ = false;
  bool muted_ = false;
  std::vector<std::pair<QObject*, int>> listViewports_;
};

// Mutes an EventQueue for one scope.
class MutedEvents {
 public:
  explicit MutedEvents(EventQueue& queue) : queue_(queue) { queue_.SetMuted(true); }
  ~MutedEvents() { queue_.SetMuted(false); }
  MutedEvents(const MutedEvents&) = delete;
  MutedEvents& operator=(const MutedEvents&) = delete;

 private:
  EventQueue& queue_;
};

}  // namespace kelpie
