#include "app/qt/qt_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include "protocol/peer_state.h"
#include "qt_test_app.h"

namespace kelpie {
namespace {

struct ControlRow {
  int id;
  const char* kind;  // Qt class the control is built from
  QRect rect;
  const char* text;
  bool enabled;
};

const ControlRow kControls[] = {
    {kLogBox, "QPlainTextEdit", {5, 410, 630, 65}, "KLPE Version 1.02 by Morwen", true},
    {kAddFileButton, "QPushButton", {5, 385, 203, 20}, "Add File to List", false},
    {kCompareButton, "QPushButton", {213, 385, 208, 20}, "Compare", false},
    {kSyncButton, "QPushButton", {426, 385, 208, 20}, "Syncronize", false},
    {kServerButton, "QPushButton", {5, 5, 90, 20}, "StartServer", true},
    {kHostField, "QLineEdit", {250, 5, 120, 20}, "127.0.0.1", true},
    {kPortField, "QLineEdit", {375, 5, 50, 20}, "2031", true},
    {kConnectButton, "QPushButton", {545, 5, 90, 20}, "Connect", true},
    {kServerLabel, "QLabel", {5, 30, 310, 20}, "Server", true},
    {kServerFiles, "QTreeWidget", {5, 55, 310, 200}, "", true},
    {kServerRefresh, "QPushButton", {5, 260, 310, 20}, "Refresh", false},
    {kClientLabel, "QLabel", {320, 30, 310, 20}, "Client", true},
    {kClientFiles, "QTreeWidget", {320, 55, 310, 200}, "", true},
    {kClientRefresh, "QPushButton", {320, 260, 310, 20}, "Refresh", false},
    {kJobList, "QTreeWidget", {5, 285, 630, 95}, "", true},
};

class QtWindowTest : public ::testing::Test {
 protected:
  QTreeWidget* List(int id) { return static_cast<QTreeWidget*>(window.Control(id)); }

  PeerState state;
  QtWindow window{state};
};

TEST_F(QtWindowTest, ControlsHaveTheirKindPlaceTextAndStartState) {
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.id);
    QWidget* control = window.Control(row.id);
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->inherits(row.kind));
    EXPECT_EQ(control->parentWidget(), window.Widget());
    EXPECT_EQ(control->geometry(), row.rect);
    EXPECT_EQ(window.GetText(row.id), row.text);
    EXPECT_EQ(window.IsControlEnabled(row.id), row.enabled);
  }
  EXPECT_EQ(window.Control(-1), nullptr);
  EXPECT_EQ(window.Control(kControlCount), nullptr);
}

TEST_F(QtWindowTest, ListsHaveTheirColumnsAndStyle) {
  struct Columns {
    int id;
    QStringList names;
    QList<int> widths;
  };
  const Columns lists[] = {{kServerFiles, {"Files", "MD5"}, {175, 150}},
                           {kClientFiles, {"Files", "MD5"}, {175, 150}},
                           {kJobList, {"Action", "Progress"}, {200, 425}}};
  for (const Columns& expected : lists) {
    SCOPED_TRACE(expected.id);
    QTreeWidget* list = List(expected.id);
    ASSERT_EQ(list->columnCount(), expected.names.size());
    for (int column = 0; column < list->columnCount(); ++column) {
      EXPECT_EQ(list->headerItem()->text(column), expected.names[column]);
      EXPECT_EQ(list->header()->sectionSize(column), expected.widths[column]);
    }
    EXPECT_FALSE(list->isHeaderHidden());
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    const QPalette palette = list->palette();
    EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Highlight),
              palette.color(QPalette::Active, QPalette::Highlight));
  }
}

TEST_F(QtWindowTest, WindowIsFixedCentredAndTitled) {
  QWidget* widget = window.Widget();
  EXPECT_TRUE(widget->isVisible());
  EXPECT_EQ(widget->windowTitle(), "KLPE Version 1.02 by Morwen");
  EXPECT_EQ(widget->size(), QSize(640, 480));
  EXPECT_EQ(widget->minimumSize(), QSize(640, 480));
  EXPECT_EQ(widget->maximumSize(), QSize(640, 480));
  EXPECT_FALSE(widget->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(widget->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(widget->backgroundRole(), QPalette::Button);
  const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((widget->frameGeometry().center() - screenCentre).manhattanLength(), 2);
}

TEST_F(QtWindowTest, OnlyTheRoleLabelsUseTheBoldArialFont) {
  for (int id = 0; id < kControlCount; ++id) {
    SCOPED_TRACE(id);
    const QFont font = window.Control(id)->font();
    if (id == kServerLabel || id == kClientLabel) {
      EXPECT_EQ(font.family(), "Arial");
      EXPECT_EQ(font.pointSize(), 12);
      EXPECT_EQ(font.weight(), QFont::Bold);
      EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
    } else {
      EXPECT_EQ(font, window.Widget()->font());
    }
  }
}

TEST_F(QtWindowTest, PortFieldRefusesLettersHostFieldTakesThem) {
  auto* port = static_cast<QLineEdit*>(window.Control(kPortField));
  port->clear();
  QTest::keyClicks(port, "8a0-x8 1");
  EXPECT_EQ(window.GetText(kPortField), "8081");

  auto* host = static_cast<QLineEdit*>(window.Control(kHostField));
  host->clear();
  QTest::keyClicks(host, "peer-1.lan");
  EXPECT_EQ(window.GetText(kHostField), "peer-1.lan");
}

TEST_F(QtWindowTest, TextsAndEnabledStatesChange) {
  window.SetText(kServerButton, "StopServer");
  window.SetText(kClientLabel, "Clients (2)");
  window.SetText(kPortField, "");
  window.EnableControl(kSyncButton, true);
  window.EnableControl(kServerButton, false);
  EXPECT_EQ(window.GetText(kServerButton), "StopServer");
  EXPECT_EQ(window.GetText(kClientLabel), "Clients (2)");
  EXPECT_EQ(window.GetText(kPortField), "");
  EXPECT_TRUE(window.IsControlEnabled(kSyncButton));
  EXPECT_FALSE(window.IsControlEnabled(kServerButton));
  // Ids that name no control are ignored.
  window.SetText(99, "x");
  window.EnableControl(-1, true);
  EXPECT_EQ(window.GetText(99), "");
  EXPECT_FALSE(window.IsControlEnabled(99));
}

TEST_F(QtWindowTest, LogTextComesBackExactlyAsSet) {
  // Cut inside a line, starting between '\r' and '\n', and inside a
  // two-byte character: the text given back is the same bytes.
  const std::string text = "\n\xa4rt of a line\r\nServer: 'OK' (Hello)\r\n\xc3\xa4nd";
  window.SetText(kLogBox, text);
  EXPECT_EQ(window.GetText(kLogBox), text);
  const QString shown = static_cast<QPlainTextEdit*>(window.Control(kLogBox))->toPlainText();
  EXPECT_FALSE(shown.contains('\r'));
  EXPECT_EQ(shown.count('\n'), 3);
  EXPECT_TRUE(shown.endsWith(QString::fromUtf8("\xc3\xa4nd")));
}

TEST_F(QtWindowTest, LogIsReadOnlyUnwrappedAndScrollsToItsNewestLine) {
  auto* box = static_cast<QPlainTextEdit*>(window.Control(kLogBox));
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  std::string text = window.GetText(kLogBox);
  for (int line = 0; line < 100; ++line)
    text += "\r\nline " + std::to_string(line);
  window.SetText(kLogBox, text);
  window.ScrollLogToEnd();
  QScrollBar* bar = box->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(QtWindowTest, ListRowsKeepTheirColumnsAndBytes) {
  EXPECT_EQ(window.RowCount(kServerFiles), 0);
  EXPECT_EQ(window.SelectedRow(kServerFiles), -1);
  window.AddRow(kServerFiles, "a.bin\n0123456789abcdef0123456789abcdef");
  window.AddRow(kServerFiles, "caf\xe9.txt\nffff");  // not UTF-8
  window.AddRow(kServerFiles, "only-name");
  ASSERT_EQ(window.RowCount(kServerFiles), 3);
  EXPECT_EQ(window.RowText(kServerFiles, 0, 0), "a.bin");
  EXPECT_EQ(window.RowText(kServerFiles, 0, 1), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(window.RowText(kServerFiles, 1, 0), "caf\xe9.txt");
  EXPECT_EQ(window.RowText(kServerFiles, 2, 0), "only-name");
  EXPECT_EQ(window.RowText(kServerFiles, 2, 1), "");
  EXPECT_EQ(window.RowText(kServerFiles, 3, 0), "");
  EXPECT_EQ(window.RowText(kServerFiles, -1, 0), "");
  EXPECT_EQ(List(kServerFiles)->topLevelItem(0)->text(0), "a.bin");

  List(kServerFiles)->setCurrentItem(List(kServerFiles)->topLevelItem(1));
  EXPECT_EQ(window.SelectedRow(kServerFiles), 1);
  window.ClearList(kServerFiles);
  EXPECT_EQ(window.RowCount(kServerFiles), 0);
  EXPECT_EQ(window.SelectedRow(kServerFiles), -1);
  // Not a list.
  EXPECT_EQ(window.RowCount(kLogBox), 0);
  EXPECT_EQ(window.SelectedRow(kSyncButton), -1);
}

// The program registers the error reporter before the window exists, so a
// window that is not open yet must take every call.
TEST(QtWindowBeforeOpen, HasNoControlsTakesEveryCallThenOpensShown) {
  QtWindow window;
  EXPECT_EQ(window.Widget(), nullptr);
  for (int id = 0; id < kControlCount; ++id) {
    EXPECT_EQ(window.Control(id), nullptr);
    window.EnableControl(id, true);
    window.SetText(id, "x");
    window.Repaint(id);
    window.ClearList(id);
    window.AddRow(id, "a\nb");
    EXPECT_EQ(window.SelectedRow(id), -1);
    EXPECT_EQ(window.RowCount(id), 0);
  }
  window.ScrollLogToEnd();
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::None);

  PeerState state;
  window.Open(state);
  ASSERT_NE(window.Widget(), nullptr);
  EXPECT_TRUE(window.Widget()->isVisible());
  EXPECT_EQ(window.GetText(kServerButton), "StartServer");
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::None);
}

// Counts the paint events a widget receives and where they paint.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
  std::vector<QRect> painted;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
};

TEST_F(QtWindowTest, RepaintingTheJobListPaintsItsProgressCellsAtOnce) {
  state.tables.CompareJobs.Append();
  state.tables.CompareJobs.Append();
  window.AddRow(kJobList, "Compare: \"a\"");
  window.AddRow(kJobList, "Compare: \"b\"");
  QCoreApplication::processEvents();
  QTreeWidget* jobs = List(kJobList);
  PaintRecorder recorder(jobs->viewport());
  window.Repaint(kJobList);
  ASSERT_EQ(recorder.painted.size(), 1u);
  for (int row = 0; row < 2; ++row) {
    EXPECT_TRUE(recorder.painted[0].contains(jobs->visualRect(jobs->model()->index(row, 1))));
  }
  // The Action column's texts change only when the rows are rebuilt.
  EXPECT_FALSE(recorder.painted[0].intersects(jobs->visualRect(jobs->model()->index(0, 0))));
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
