#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

class QWidget;

namespace kelpie {

// Runs a fully configured dialog and returns its result code (QDialog::exec
// by default). Tests replace it to inspect and answer a dialog without
// showing it.
using DialogRunner = std::function<int(QDialog&)>;

// Windows-style filter "description|pattern|description|pattern" as Qt name
// filters ("description (pattern)"); a text without '|' is one pattern.
QStringList QtNameFilters(std::string_view filter);

// The file requesters and the Yes/No box of the main window.
class Dialogs {
 public:
  // parent may be null: the dialogs then stand alone.
  explicit Dialogs(QWidget* parent);

  void SetParent(QWidget* parent) { parent_ = parent; }
  void SetRunner(DialogRunner runner);
  // Called about once a second while a file requester is open.
  void SetWhileOpen(std::function<void()> tick) { whileOpen_ = std::move(tick); }

  // Path of an existing file, "" when cancelled.
  std::string OpenFile(std::string_view title, std::string_view initialPath,
                       std::string_view filter);
  // Path to write to, starting with proposal; no overwrite question; "" when
  // cancelled.
  std::string SaveFile(std::string_view title, std::string_view proposal, std::string_view pattern);
  // Modal box with a stop icon; true for Yes.
  bool AskYesNo(std::string_view title, std::string_view text);

 private:
  std::string RunFileDialog(QDialog& dialog);

  QWidget* parent_;
  DialogRunner runner_;
  std::function<void()> whileOpen_;
};

}  // namespace kelpie
