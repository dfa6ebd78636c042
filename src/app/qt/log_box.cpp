#include "app/qt/log_box.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <optional>

#include "app/log_text.h"
#include "app/qt/log_layout.h"
#include "app/qt/qt_text.h"

namespace kelpie {
namespace {

// The old text loses its first `drop` bytes; `added` follows what is left.
struct LogEdit {
  size_t drop;
  std::string_view added;
};

bool IsAscii(char c) {
  return static_cast<unsigned char>(c) < 0x80;
}

// The edit that turns previous into text the way AppendLogLine does, if that
// is what happened. The shown text is decoded from UTF-8, so the cut must
// fall where decoding the rest alone gives the same characters: before an
// ASCII byte (a '\r' is not shown, so the byte after it counts).
std::optional<LogEdit> AppendedLine(std::string_view previous, std::string_view text) {
  const size_t keep = std::min(previous.size(), kLogKeep);
  const size_t drop = previous.size() - keep;
  if (text.size() < keep + 2 || text.compare(0, keep, previous, drop, keep) != 0 ||
      text.compare(keep, 2, "\r\n") != 0) {
    return std::nullopt;
  }
  size_t first = drop;
  while (first < previous.size() && previous[first] == '\r')
    ++first;
  if (first < previous.size() && !IsAscii(previous[first])) return std::nullopt;
  return LogEdit{drop, text.substr(keep)};
}

void ApplyEdit(QTextDocument& document, std::string_view previous, const LogEdit& edit) {
  QTextCursor cursor(&document);
  // As one edit the cursor does not lay out the new line to find where it
  // stands.
  cursor.beginEditBlock();
  // Document positions count characters with one per line break, as the
  // shown text does.
  const auto dropped = LogDisplayText(previous.substr(0, edit.drop)).size();
  if (dropped > 0) {
    cursor.setPosition(static_cast<int>(dropped), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  // Set, not moved: moving lays out the line the cursor leaves.
  cursor.setPosition(document.characterCount() - 1);
  cursor.insertText(LogDisplayText(edit.added));
  cursor.endEditBlock();
}

LogLayout& InstallLogLayout(QPlainTextEdit& box) {
  auto* document = new QTextDocument(&box);
  auto* layout = new LogLayout(document);
  document->setDocumentLayout(layout);
  document->setDefaultFont(box.font());
  document->setUndoRedoEnabled(false);
  document->setPlainText(box.toPlainText());
  box.setDocument(document);
  return *layout;
}

}  // namespace

LogBox::LogBox(QPlainTextEdit& box)
    : box_(box), layout_(InstallLogLayout(box)), frame_([this] { EndFrame(); }) {}

void LogBox::Show(std::string_view previous, std::string_view text) {
  HoldPaints();
  if (const std::optional<LogEdit> edit = AppendedLine(previous, text)) {
    ApplyEdit(*box_.document(), previous, *edit);
  } else {
    box_.setPlainText(LogDisplayText(text));
  }
  frame_.Request();
}

void LogBox::ScrollToEnd() {
  // The scroll bars follow at once; the caret, which needs the last line
  // laid out, waits for the frame.
  ScrollBarsToEnd();
  caretToEnd_ = true;
  HoldPaints();
  frame_.Request();
}

void LogBox::HoldPaints() {
  layout_.Hold();
  if (box_.updatesEnabled()) box_.setUpdatesEnabled(false);
}

void LogBox::EndFrame() {
  layout_.Release();
  if (caretToEnd_) {
    caretToEnd_ = false;
    QTextCursor cursor = box_.textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    box_.setTextCursor(cursor);
    ScrollBarsToEnd();
  }
  // Paints the whole box once, with everything the frame changed.
  box_.setUpdatesEnabled(true);
}

void LogBox::ScrollBarsToEnd() {
  box_.verticalScrollBar()->setValue(box_.verticalScrollBar()->maximum());
  box_.horizontalScrollBar()->setValue(0);
}

}  // namespace kelpie
