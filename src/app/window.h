#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kelpie {

// Control ids of the main window.
enum ControlId : int {
  kLogBox = 0,
  kServerLabel = 1,
  kClientLabel = 2,
  kServerFiles = 3,
  kClientFiles = 4,
  kServerRefresh = 5,
  kClientRefresh = 6,
  kServerButton = 7,
  kConnectButton = 8,
  kHostField = 9,
  kPortField = 10,
  kAddFileButton = 11,
  kCompareButton = 12,
  kSyncButton = 13,
  kJobList = 14,
};
inline constexpr int kControlCount = 15;

inline constexpr char kWindowTitle[] = "KLPE Version 1.02 by Morwen";

// The window as the program logic sees it: controls addressed by id, the
// dialogs and the message box. The Qt window implements it; a headless one
// serves tests, the headless peer and the bench program.
class Window {
 public:
  virtual ~Window() = default;

  virtual void EnableControl(int id, bool enabled) = 0;
  virtual bool IsControlEnabled(int id) const = 0;
  virtual std::string GetText(int id) const = 0;
  virtual void SetText(int id, std::string_view text) = 0;

  // List views: selected row (-1 when none), a cell's text, clearing, and
  // appending a row whose columns are separated by '\n'.
  virtual int SelectedRow(int listId) const = 0;
  virtual std::string RowText(int listId, int row, int column) const = 0;
  virtual int RowCount(int listId) const = 0;
  virtual void ClearList(int listId) = 0;
  virtual void AddRow(int listId, std::string_view columns) = 0;

  // Repaints a control before returning (labels, job list).
  virtual void Repaint(int id) = 0;
  // Scrolls the log box so its newest line is in view.
  virtual void ScrollLogToEnd() = 0;

  // Open-file requester; "" when cancelled.
  virtual std::string OpenFileDialog(std::string_view title, std::string_view initialPath,
                                     std::string_view filter) = 0;
  // Save-file requester proposing a path; no overwrite question; "" when
  // cancelled.
  virtual std::string SaveFileDialog(std::string_view title, std::string_view proposal,
                                     std::string_view pattern) = 0;
  // Modal Yes/No box with a stop icon; true for Yes.
  virtual bool AskYesNo(std::string_view title, std::string_view text) = 0;

  // What must go on, about once a second, while a file requester holds the
  // program's loop (keep-alives to the peers). A window whose requesters
  // return at once never calls it.
  virtual void SetWhileDialogOpen(std::function<void()> tick) { (void)tick; }
};

}  // namespace kelpie
