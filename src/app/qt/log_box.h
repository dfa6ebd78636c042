#pragma once

#include <string_view>

class QPlainTextEdit;

namespace kelpie {

// Shows text in the log box, which shows previous. When text is previous
// with its front cut and a line appended, as the log grows, only the two ends
// of the box's document change, so a line costs the same however long the
// log is; any other text replaces the whole document.
void ShowLogText(QPlainTextEdit& box, std::string_view previous, std::string_view text);

}  // namespace kelpie
