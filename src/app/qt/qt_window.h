#pragma once

#include <memory>
#include <string>

#include "app/qt/dialogs.h"
#include "app/qt/event_queue.h"
#include "app/qt/frame_pacer.h"
#include "app/qt/idle_wait.h"
#include "app/window.h"
#include "app/window_events.h"

class QTreeWidget;
class QWidget;

namespace kelpie {

class LogBox;
class MainWidget;
struct PeerState;

// The main window in Qt Widgets, as the program logic sees it: controls by
// id, dialogs, and the window's side of the main loop. Needs a QApplication.
// Label colours and the Progress column read state while they paint.
class QtWindow : public Window, public WindowEvents {
 public:
  // No window yet: Open builds it. Until then there are no controls and the
  // Yes/No box has no parent, so the error reporter can use it from the
  // program's first step on.
  QtWindow();
  // Opens the window at once.
  explicit QtWindow(const PeerState& state);
  ~QtWindow() override;

  // Builds the window hidden with all its controls, discards the window
  // events that raised, then shows it centred. Call once.
  void Open(const PeerState& state);

  void EnableControl(int id, bool enabled) override;
  bool IsControlEnabled(int id) const override;
  std::string GetText(int id) const override;
  void SetText(int id, std::string_view text) override;

  int SelectedRow(int listId) const override;
  std::string RowText(int listId, int row, int column) const override;
  int RowCount(int listId) const override;
  void ClearList(int listId) override;
  void AddRow(int listId, std::string_view columns) override;

  void Repaint(int id) override;
  void ScrollLogToEnd() override;

  std::string OpenFileDialog(std::string_view title, std::string_view initialPath,
                             std::string_view filter) override;
  std::string SaveFileDialog(std::string_view title, std::string_view proposal,
                             std::string_view pattern) override;
  bool AskYesNo(std::string_view title, std::string_view text) override;
  void SetWhileDialogOpen(std::function<void()> tick) override;

  WindowEvent PollEvent() override;
  void WaitIdle(const std::vector<pollfd>& fds, int timeoutMs) override;

  // The top-level widget and its controls, for the program's start and for
  // tests.
  QWidget* Widget() const;
  QWidget* Control(int id) const;
  // Replaces how dialogs are run (tests answer them without showing them).
  void SetDialogRunner(DialogRunner runner);
  const IdleWait& Idle() const { return idle_; }

 private:
  QTreeWidget* List(int id) const;

  EventQueue events_;
  IdleWait idle_;
  std::unique_ptr<MainWidget> widget_;
  std::unique_ptr<LogBox> logBox_;
  // The job list is repainted after every answer, far more often than a
  // screen shows pictures.
  FramePacer jobListFrame_;
  Dialogs dialogs_;
  // The log exactly as the program set it; the box shows it without '\r'.
  std::string logText_;
};

}  // namespace kelpie
