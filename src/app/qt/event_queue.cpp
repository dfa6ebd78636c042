#include "app/qt/event_queue.h"

#include <QAbstractButton>
#include <QMouseEvent>
#include <QTreeWidget>

namespace kelpie {

void EventQueue::WatchButton(QAbstractButton* button, int id) {
  connect(button, &QAbstractButton::clicked, this, [this, id] { Push(id); });
}

void EventQueue::WatchList(QTreeWidget* list, int id) {
  connect(list, &QTreeWidget::itemSelectionChanged, this, [this, id] { PushListEvent(id); });
  connect(list, &QTreeWidget::currentItemChanged, this, [this, id] { PushListEvent(id); });
  connect(list, &QTreeWidget::activated, this, [this, id] { PushListEvent(id); });
  // Clicks count anywhere in the list, on a row or not, so they are taken
  // from the viewport rather than from the item signals.
  list->viewport()->installEventFilter(this);
  listViewports_.emplace_back(list->viewport(), id);
}

bool EventQueue::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
    const auto button = static_cast<QMouseEvent*>(event)->button();
    if (button == Qt::LeftButton || button == Qt::RightButton) {
      for (const auto& [viewport, id] : listViewports_) {
        if (viewport == watched) PushListEvent(id);
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

void EventQueue::Push(int id) {
  if (!muted_) pending_.push_back(id);
}

void EventQueue::PushListEvent(int id) {
  // One click or key press on a list raises several of these; the command
  // reads the list's state when it runs, so one queued event stands for all
  // that follow each other.
  if (!pending_.empty() && pending_.back() == id) return;
  Push(id);
}

void EventQueue::RequestClose() {
  closeRequested_ = true;
}

WindowEvent EventQueue::Take() {
  if (!pending_.empty()) {
    const int id = pending_.front();
    pending_.pop_front();
    return {WindowEventKind::Control, id};
  }
  if (closeRequested_) {
    closeRequested_ = false;
    return {WindowEventKind::Close, -1};
  }
  return {};
}

bool EventQueue::HasPending() const {
  return !pending_.empty() || closeRequested_;
}

}  // namespace kelpie
