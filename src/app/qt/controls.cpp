#include "app/qt/controls.h"

#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

namespace kelpie {
namespace {

void Place(QWidget* control, int id, const QRect& rect) {
  control->setObjectName(QStringLiteral("control%1").arg(id));
  control->setGeometry(rect);
}

}  // namespace

QPushButton* MakeButton(QWidget* parent, int id, const QRect& rect, const QString& text) {
  auto* button = new QPushButton(text, parent);
  Place(button, id, rect);
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeField(QWidget* parent, int id, const QRect& rect, const QString& text,
                     bool digitsOnly) {
  auto* field = new QLineEdit(text, parent);
  Place(field, id, rect);
  if (digitsOnly) {
    static const QRegularExpression kDigits(QStringLiteral("[0-9]*"));
    field->setValidator(new QRegularExpressionValidator(kDigits, field));
  }
  return field;
}

QPlainTextEdit* MakeLogBox(QWidget* parent, int id, const QRect& rect, const QString& text) {
  auto* box = new QPlainTextEdit(text, parent);
  Place(box, id, rect);
  box->setReadOnly(true);
  // The log only grows at its end and is cut at its front; nothing to undo.
  box->setUndoRedoEnabled(false);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  return box;
}

QTreeWidget* MakeListView(QWidget* parent, int id, const QRect& rect, const QStringList& columns,
                          const QList<int>& widths) {
  auto* list = new QTreeWidget(parent);
  Place(list, id, rect);
  list->setColumnCount(static_cast<int>(columns.size()));
  list->setHeaderLabels(columns);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  for (int column = 0; column < widths.size(); ++column) {
    list->header()->resizeSection(column, widths[column]);
  }
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // Selection stays visible, in its usual colours, when the list has no focus.
  QPalette palette = list->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  list->setPalette(palette);
  return list;
}

QFont RoleLabelFont() {
  QFont font(QStringLiteral("Arial"), 12, QFont::Bold);
  font.setStyleHint(QFont::SansSerif);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

}  // namespace kelpie
