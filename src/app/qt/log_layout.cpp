#include "app/qt/log_layout.h"

#include <QTextDocument>

namespace kelpie {

LogLayout::LogLayout(QTextDocument* document) : QPlainTextDocumentLayout(document) {}

void LogLayout::Hold() {
  held_ = true;
}

void LogLayout::Release() {
  held_ = false;
  if (!changed_) return;
  changed_ = false;
  // As if the whole text had been put in: every line is laid out anew and
  // the size, and with it the scroll bars, follow.
  QPlainTextDocumentLayout::documentChanged(0, 0, document()->characterCount());
}

void LogLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
  if (held_) {
    changed_ = true;
    return;
  }
  QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
}

}  // namespace kelpie
