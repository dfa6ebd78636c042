#pragma once

#include <QPlainTextDocumentLayout>

namespace kelpie {

// The log box's document layout. While held it only notes that the document
// changed; released, it lays out everything once. A line appended to the log
// changes both ends of the document, which costs the plain layout a pass
// over every line and the shaping of several; held over a frame, that is
// paid once a frame instead of once a line.
class LogLayout : public QPlainTextDocumentLayout {
 public:
  explicit LogLayout(QTextDocument* document);

  void Hold();
  void Release();

 protected:
  void documentChanged(int from, int charsRemoved, int charsAdded) override;

 private:
  bool held_ = false;
  bool changed_ = false;
};

}  // namespace kelpie
