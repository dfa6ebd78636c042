// What the window shows once a burst of repaints and log lines is over:
// pictures are read from the offscreen platform's backing store, which holds
// what was last painted there, not painted anew for the test.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>

#include "app/log_text.h"
#include "app/qt/brushes.h"
#include "app/qt/controls.h"
#include "app/qt/frame_pacer.h"
#include "app/qt/qt_window.h"
#include "protocol/peer_state.h"
#include "qt_test_app.h"

namespace kelpie {
namespace {

class PacedWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    // The caret blinks only in a box with the focus.
    window.Control(kServerButton)->setFocus();
    WaitFrames(3);
  }

  // What the screen shows of a widget in the window.
  QImage OnScreen(const QWidget* widget) {
    const QPoint at = widget->mapTo(window.Widget(), QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.Widget()->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }
  static QImage Picture(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  static void WaitFrames(int frames) { QTest::qWait(frames * FramePacer::kFrameMs); }

  PeerState state;
  QtWindow window{state};
};

TEST_F(PacedWindow, TheJobListShowsTheLastStateOfABurstOfRepaints) {
  CompareJob& job = *state.tables.CompareJobs.Append();
  test::FillJob(job, kRequested, 1000, 0, {}, false);
  window.AddRow(kJobList, "Compare: \"a\"");
  auto* jobs = static_cast<QTreeWidget*>(window.Control(kJobList));
  WaitFrames(3);
  test::PaintCounter paints(jobs->viewport());
  for (job.position = 10; job.position <= 1000; job.position += 10)
    window.Repaint(kJobList);
  WaitFrames(3);

  EXPECT_LE(paints.count, 3);
  // A job in Requested shows green up to its position: all of it now.
  const QRect cell = jobs->visualRect(jobs->model()->index(0, 1));
  const QImage shown = OnScreen(jobs->viewport());
  for (int x = cell.left(); x <= cell.right(); ++x)
    ASSERT_EQ(shown.pixelColor(x, cell.center().y()), kBrushGreen) << "x=" << x;
}

// Every line is in the box at once; once the frame is over, the box shows
// the same picture as a box given the whole text in one go.
TEST_F(PacedWindow, TheLogBoxShowsItsWholeTextAfterABurstOfLines) {
  auto* box = static_cast<QPlainTextEdit*>(window.Control(kLogBox));
  std::string text = window.GetText(kLogBox);
  for (int line = 0; line < 1000; ++line) {
    text = AppendLogLine(text, "Server: 'Compare_BlockAnswer' (Check) FileID:1 Position:" +
                                   std::to_string(line * 512));
    window.SetText(kLogBox, text);
    window.ScrollLogToEnd();
  }
  std::string plain = text;
  std::erase(plain, '\r');
  const QString shownText = QString::fromStdString(plain);
  ASSERT_EQ(box->toPlainText(), shownText);
  WaitFrames(3);

  EXPECT_TRUE(box->updatesEnabled());
  EXPECT_EQ(box->textCursor().position(), box->document()->lastBlock().position());
  EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());
  EXPECT_GT(box->verticalScrollBar()->maximum(), 200);
  // The layout knows every line (a plain text layout is as high as its lines).
  EXPECT_EQ(box->document()->documentLayout()->documentSize().height(),
            box->document()->blockCount());

  QWidget reference;
  reference.resize(window.Widget()->size());
  QPlainTextEdit* fresh = MakeLogBox(&reference, kLogBox, box->geometry(), "");
  fresh->setFocusPolicy(Qt::NoFocus);  // no caret in the picture
  reference.show();
  fresh->setPlainText(shownText);
  fresh->verticalScrollBar()->setValue(fresh->verticalScrollBar()->maximum());
  EXPECT_EQ(OnScreen(box->viewport()), Picture(fresh->viewport()));
  // The top, whose line lost its front to every line added.
  box->verticalScrollBar()->setValue(0);
  fresh->verticalScrollBar()->setValue(0);
  WaitFrames(1);
  EXPECT_EQ(OnScreen(box->viewport()), Picture(fresh->viewport()));
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
