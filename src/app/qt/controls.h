#pragma once

#include <QRect>
#include <QStringList>

class QFont;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace kelpie {

// Builders for the kinds of control the main window holds. Each control
// gets its numeric id as its object name ("control<id>") and its rectangle
// in the parent's client area.
QPushButton* MakeButton(QWidget* parent, int id, const QRect& rect, const QString& text);
QLineEdit* MakeField(QWidget* parent, int id, const QRect& rect, const QString& text,
                     bool digitsOnly);
// Read-only, no line wrap, vertical scroll bar always shown.
QPlainTextEdit* MakeLogBox(QWidget* parent, int id, const QRect& rect, const QString& text);
// Report-style list: header with the given columns and widths, single
// full-row selection that stays visible without focus, no root decoration.
QTreeWidget* MakeListView(QWidget* parent, int id, const QRect& rect, const QStringList& columns,
                          const QList<int>& widths);
// "Arial" 12 point bold (the font system substitutes a similar face where
// Arial is missing).
QFont RoleLabelFont();

}  // namespace kelpie
