#include "app/qt/qt_window.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include "app/qt/log_box.h"
#include "app/qt/main_widget.h"
#include "app/qt/progress_delegate.h"
#include "app/qt/qt_text.h"
#include "app/window_controls.h"

namespace kelpie {

QtWindow::QtWindow()
    : idle_([this] { return events_.HasPending(); }),
      jobListFrame_([this] { RepaintProgressColumn(*List(kJobList)); }),
      dialogs_(nullptr),
      logText_(kWindowTitle) {}

QtWindow::QtWindow(const PeerState& state) : QtWindow() {
  Open(state);
}

QtWindow::~QtWindow() = default;

void QtWindow::Open(const PeerState& state) {
  widget_ = std::make_unique<MainWidget>(state);
  logBox_ = std::make_unique<LogBox>(*static_cast<QPlainTextEdit*>(Control(kLogBox)));
  dialogs_.SetParent(widget_.get());
  widget_->SetCloseHandler([this] { events_.RequestClose(); });
  for (int id : {kServerRefresh, kClientRefresh, kServerButton, kConnectButton, kAddFileButton,
                 kCompareButton, kSyncButton}) {
    events_.WatchButton(static_cast<QAbstractButton*>(Control(id)), id);
  }
  for (int id : {kServerFiles, kClientFiles, kJobList})
    events_.WatchList(List(id), id);
  while (PollEvent().kind != WindowEventKind::None) {
  }
  widget_->ShowCentred();
}

QWidget* QtWindow::Widget() const {
  return widget_.get();
}

QWidget* QtWindow::Control(int id) const {
  return widget_ ? widget_->Control(id) : nullptr;
}

QTreeWidget* QtWindow::List(int id) const {
  return qobject_cast<QTreeWidget*>(Control(id));
}

void QtWindow::SetWhileDialogOpen(std::function<void()> tick) {
  dialogs_.SetWhileOpen(std::move(tick));
}

void QtWindow::SetDialogRunner(DialogRunner runner) {
  dialogs_.SetRunner(std::move(runner));
}

void QtWindow::EnableControl(int id, bool enabled) {
  if (QWidget* control = Control(id)) control->setEnabled(enabled);
}

bool QtWindow::IsControlEnabled(int id) const {
  const QWidget* control = Control(id);
  return control && control->isEnabled();
}

std::string QtWindow::GetText(int id) const {
  const QWidget* control = Control(id);
  if (id == kLogBox) return logText_;
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) {
    return FromQString(button->text());
  }
  if (auto* field = qobject_cast<const QLineEdit*>(control)) return FromQString(field->text());
  if (auto* label = qobject_cast<const QLabel*>(control)) return FromQString(label->text());
  return "";
}

void QtWindow::SetText(int id, std::string_view text) {
  QWidget* control = Control(id);
  if (id == kLogBox) {
    if (logBox_) logBox_->Show(logText_, text);
    logText_.assign(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(ToQString(text));
  } else if (auto* field = qobject_cast<QLineEdit*>(control)) {
    field->setText(ToQString(text));
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(ToQString(text));
  }
}

int QtWindow::SelectedRow(int listId) const {
  const QTreeWidget* list = List(listId);
  if (!list) return -1;
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

std::string QtWindow::RowText(int listId, int row, int column) const {
  const QTreeWidget* list = List(listId);
  const QTreeWidgetItem* item = list ? list->topLevelItem(row) : nullptr;
  if (!item || column < 0) return "";
  return FromBytes(item->data(column, Qt::UserRole).toByteArray());
}

int QtWindow::RowCount(int listId) const {
  const QTreeWidget* list = List(listId);
  return list ? list->topLevelItemCount() : 0;
}

void QtWindow::ClearList(int listId) {
  if (QTreeWidget* list = List(listId)) {
    MutedEvents muted(events_);
    list->clear();
  }
}

void QtWindow::AddRow(int listId, std::string_view columns) {
  QTreeWidget* list = List(listId);
  if (!list) return;
  auto* item = new QTreeWidgetItem;
  int column = 0;
  for (std::string_view cell : RowColumns(columns)) {
    item->setText(column, ToQString(cell));
    // The exact bytes, so that RowText gives back what was added even where
    // they are not valid UTF-8.
    item->setData(column++, Qt::UserRole, ToBytes(cell));
  }
  MutedEvents muted(events_);
  list->addTopLevelItem(item);
}

void QtWindow::Repaint(int id) {
  QWidget* control = Control(id);
  if (!control) return;
  if (id == kJobList) {
    jobListFrame_.Request();
  } else {
    control->repaint();
  }
}

void QtWindow::ScrollLogToEnd() {
  if (logBox_) logBox_->ScrollToEnd();
}

std::string QtWindow::OpenFileDialog(std::string_view title, std::string_view initialPath,
                                     std::string_view filter) {
  return dialogs_.OpenFile(title, initialPath, filter);
}

std::string QtWindow::SaveFileDialog(std::string_view title, std::string_view proposal,
                                     std::string_view pattern) {
  return dialogs_.SaveFile(title, proposal, pattern);
}

bool QtWindow::AskYesNo(std::string_view title, std::string_view text) {
  return dialogs_.AskYesNo(title, text);
}

WindowEvent QtWindow::PollEvent() {
  QCoreApplication::processEvents();
  return events_.Take();
}

void QtWindow::WaitIdle(const std::vector<pollfd>& fds, int timeoutMs) {
  idle_.Wait(fds, timeoutMs);
}

}  // namespace kelpie
