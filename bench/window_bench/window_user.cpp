#include "window_user.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QTreeWidget>

#include "app/qt/qt_window.h"

namespace kelpie::bench {

void User::Click(int id) {
  auto* button = static_cast<QAbstractButton*>(window_.Control(id));
  button->setFocus(Qt::MouseFocusReason);
  button->click();
}

void User::Type(int id, const std::string& text) {
  static_cast<QLineEdit*>(window_.Control(id))->setText(QString::fromStdString(text));
}

void User::SelectFirstRow(int listId) {
  auto* list = static_cast<QTreeWidget*>(window_.Control(listId));
  list->setCurrentItem(list->topLevelItem(0));
}

void User::AnswerFileDialogsWith(const std::string& path) {
  window_.SetDialogRunner([path](QDialog& dialog) {
    auto* files = qobject_cast<QFileDialog*>(&dialog);
    if (!files) return int(QDialog::Rejected);
    files->selectFile(QString::fromStdString(path));
    return int(QDialog::Accepted);
  });
}

}  // namespace kelpie::bench
