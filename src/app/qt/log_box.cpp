#include "app/qt/log_box.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <optional>

#include "app/log_text.h"
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

}  // namespace

void ShowLogText(QPlainTextEdit& box, std::string_view previous, std::string_view text) {
  const std::optional<LogEdit> edit = AppendedLine(previous, text);
  if (!edit) {
    box.setPlainText(LogDisplayText(text));
    return;
  }
  QTextCursor cursor(box.document());
  // Document positions count characters with one per line break, as the
  // shown text does.
  const auto dropped = LogDisplayText(previous.substr(0, edit->drop)).size();
  if (dropped > 0) {
    cursor.setPosition(static_cast<int>(dropped), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(LogDisplayText(edit->added));
}

}  // namespace kelpie
