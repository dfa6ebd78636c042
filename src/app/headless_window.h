#pragma once

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/window.h"
#include "app/window_events.h"

namespace kelpie {

// A window without a display: controls kept in memory with the same start
// texts and states as the real window, events queued by the caller, dialogs
// answered by scripted answers. Serves tests, the headless peer and the
// bench program.
class HeadlessWindow : public Window, public WindowEvents {
 public:
  HeadlessWindow();

  // Window
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
  void ScrollLogToEnd() override {}
  std::string OpenFileDialog(std::string_view title, std::string_view initialPath,
                             std::string_view filter) override;
  std::string SaveFileDialog(std::string_view title, std::string_view proposal,
                             std::string_view pattern) override;
  bool AskYesNo(std::string_view title, std::string_view text) override;

  // WindowEvents: queued events first; the idle wait polls the sockets.
  WindowEvent PollEvent() override;
  void WaitIdle(const std::vector<pollfd>& fds, int timeoutMs) override;

  // What a user would do. A disabled control cannot be clicked (false).
  bool Click(int id);
  void SelectRow(int listId, int row);  // -1 clears the selection
  void RequestClose();
  // Answers for the next dialogs, in order; with none queued a dialog is
  // cancelled ("" / No).
  void QueueOpenFileAnswer(std::string path) { openAnswers_.push_back(std::move(path)); }
  void QueueSaveFileAnswer(std::string path) { saveAnswers_.push_back(std::move(path)); }
  void QueueYesNoAnswer(bool yes) { yesNoAnswers_.push_back(yes); }

  // Every dialog shown: title and proposed path or text.
  struct DialogCall {
    std::string title;
    std::string argument;
  };
  const std::vector<DialogCall>& dialogs() const { return dialogs_; }
  int RepaintCount(int id) const;
  bool HasPendingEvents() const { return !events_.empty(); }

 private:
  struct Control {
    std::string text;
    bool enabled = true;
    std::vector<std::vector<std::string>> rows;
    int selected = -1;
    int repaints = 0;
  };
  Control* Find(int id);
  const Control* Find(int id) const;

  std::array<Control, kControlCount> controls_;
  std::deque<WindowEvent> events_;
  std::deque<std::string> openAnswers_;
  std::deque<std::string> saveAnswers_;
  std::deque<bool> yesNoAnswers_;
  std::vector<DialogCall> dialogs_;
};

}  // namespace kelpie
