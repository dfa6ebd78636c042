#include "app/qt/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include "app/qt/qt_text.h"

namespace kelpie {
namespace {

// Qt separates patterns by spaces where Windows filters use ';'.
QString QtPatterns(const QString& pattern) {
  QString patterns = pattern;
  patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
  return patterns.trimmed();
}

void ConfigureFileDialog(QFileDialog& dialog, std::string_view filter) {
  // The same widget-based dialog on every desktop, and one that a test can
  // drive without a platform dialog behind it.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const QStringList filters = QtNameFilters(filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
  }
}

}  // namespace

QStringList QtNameFilters(std::string_view filter) {
  const QStringList parts = ToQString(filter).split(QLatin1Char('|'));
  if (parts.size() == 1) {
    const QString patterns = QtPatterns(parts.first());
    return patterns.isEmpty() ? QStringList{} : QStringList{patterns};
  }
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString patterns = QtPatterns(parts[i + 1]);
    if (!patterns.isEmpty()) filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return filters;
}

Dialogs::Dialogs(QWidget* parent)
    : parent_(parent), runner_([](QDialog& dialog) { return dialog.exec(); }) {}

void Dialogs::SetRunner(DialogRunner runner) {
  runner_ = std::move(runner);
}

std::string Dialogs::RunFileDialog(QDialog& dialog) {
  // The dialog's own event loop runs the timer; the program's loop waits.
  QTimer ticks;
  ticks.setInterval(1000);
  QObject::connect(&ticks, &QTimer::timeout, [this] {
    if (whileOpen_) whileOpen_();
  });
  ticks.start();
  if (runner_(dialog) != QDialog::Accepted) return "";
  const QStringList files = static_cast<QFileDialog&>(dialog).selectedFiles();
  return files.isEmpty() ? "" : PathFromQString(files.first());
}

std::string Dialogs::OpenFile(std::string_view title, std::string_view initialPath,
                              std::string_view filter) {
  QFileDialog dialog(parent_, ToQString(title));
  ConfigureFileDialog(dialog, filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // A folder that does not exist here (such as another system's drive name)
  // starts the requester in the home folder instead of nowhere.
  const QString start = PathToQString(initialPath);
  dialog.setDirectory(QFileInfo(start).isDir() ? start : QDir::homePath());
  return RunFileDialog(dialog);
}

std::string Dialogs::SaveFile(std::string_view title, std::string_view proposal,
                              std::string_view pattern) {
  QFileDialog dialog(parent_, ToQString(title));
  ConfigureFileDialog(dialog, pattern);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  const QFileInfo proposed(PathToQString(proposal));
  dialog.setDirectory(proposed.absolutePath());
  dialog.selectFile(proposed.fileName());
  return RunFileDialog(dialog);
}

bool Dialogs::AskYesNo(std::string_view title, std::string_view text) {
  QMessageBox box(QMessageBox::Critical, ToQString(title), ToQString(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  return runner_(box) == QMessageBox::Yes;
}

}  // namespace kelpie
