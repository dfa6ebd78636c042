#pragma once

#include <string_view>

#include "app/qt/frame_pacer.h"

class QPlainTextEdit;

namespace kelpie {

class LogLayout;

// Shows the log in the log box. Every text is in the box's document as soon
// as it is set, but the box lays it out and paints it, and its caret moves
// to the last line, at most once a frame: a busy session logs thousands of
// lines a second, and laying out and drawing each one would cost far more
// than the work it reports.
class LogBox {
 public:
  // Gives box a document laid out by a LogLayout, with the same text.
  explicit LogBox(QPlainTextEdit& box);
  LogBox(const LogBox&) = delete;
  LogBox& operator=(const LogBox&) = delete;

  // Shows text in place of previous. When text is previous with its front
  // cut and a line appended, as the log grows, only the two ends of the
  // document change, so a line costs the same however long the log is; any
  // other text replaces the whole document.
  void Show(std::string_view previous, std::string_view text);
  // Scrolls to the bottom of the text, left-aligned, and puts the caret at
  // the start of the last line (by the end of the frame), so keyboard
  // scrolling starts there.
  void ScrollToEnd();

 private:
  void HoldPaints();
  void EndFrame();
  void ScrollBarsToEnd();

  QPlainTextEdit& box_;
  LogLayout& layout_;
  FramePacer frame_;
  bool caretToEnd_ = false;
};

}  // namespace kelpie
