// The window program driven through its real widgets -- typed fields,
// clicked buttons and rows, answered dialogs -- against a headless peer in the
// same process over loopback.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "app/program.h"
#include "app/qt/brushes.h"
#include "app/qt/qt_window.h"
#include "qt_test_app.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"

namespace kelpie {
namespace {

using test::PaintCounter;
using test::RandomBytes;
using test::ReadFileBytes;
using test::TempDir;
using test::TestPeer;

class WindowSession : public ::testing::Test {
 protected:
  WindowSession() {
    window.Open(program.state);
    // The peer takes its passes on a timer inside Qt's event loop, so it
    // answers while the window program waits idle, as a peer in another
    // process would.
    QObject::connect(&peerTimer, &QTimer::timeout, [this] { peer.program.Pass(); });
    peerTimer.start(0);
  }
  ~WindowSession() override {
    peerTimer.stop();
    program.Cleanup();
  }

  // Runs passes of the window program until done holds.
  bool RunUntil(const std::function<bool()>& done, int maxPasses = 100000) {
    for (int pass = 0; pass < maxPasses; ++pass) {
      if (done()) return true;
      program.Pass();
    }
    return done();
  }
  // Runs passes until the window has no event left to hand over.
  void Settle() {
    for (int pass = 0; pass < 10; ++pass)
      program.Pass();
  }

  QWidget* Control(int id) { return window.Control(id); }
  QTreeWidget* List(int id) { return static_cast<QTreeWidget*>(Control(id)); }

  void Click(int id) {
    QTest::mouseClick(Control(id), Qt::LeftButton, {}, Control(id)->rect().center());
    Settle();
  }
  void ClickRow(int listId, int row) {
    QTreeWidget* list = List(listId);
    const QPoint centre = list->visualRect(list->model()->index(row, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    Settle();
  }
  void Type(int id, const QString& text) {
    auto* field = static_cast<QLineEdit*>(Control(id));
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
  }
  // The colour a role label shows, away from its text.
  QColor LabelColour(int id) { return Control(id)->grab().toImage().pixelColor(2, 2); }

  // Answers the next file dialogs with path, noting their titles.
  void AnswerFileDialogsWith(const std::string& path) {
    window.SetDialogRunner([this, path](QDialog& dialog) {
      auto* files = qobject_cast<QFileDialog*>(&dialog);
      if (!files) return int(QDialog::Rejected);
      dialogTitles.push_back(files->windowTitle().toStdString());
      files->selectFile(QString::fromStdString(path));
      return int(QDialog::Accepted);
    });
  }

  bool Logged(const std::string& line) const {
    return ("\r\n" + window.GetText(kLogBox) + "\r\n").find("\r\n" + line + "\r\n") !=
           std::string::npos;
  }

  QtWindow window;
  Program program{window, window};
  TestPeer peer;
  QTimer peerTimer;
  TempDir dir;
  std::vector<std::string> dialogTitles;
};

bool HasColour(const QImage& image, const QRect& area, const QColor& colour) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixelColor(x, y) == colour) return true;
    }
  }
  return false;
}

// The peer's copy keeps the first part of the local file in place, holds the
// next part shifted by new bytes, lacks the part after that and ends in
// place again: the comparison finds ranges in place, elsewhere and nowhere.
std::vector<uint8_t> PeerVersion(const std::vector<uint8_t>& local) {
  std::vector<uint8_t> peer(local.begin(), local.begin() + 100000);
  const std::vector<uint8_t> inserted = RandomBytes(1000, 77);
  peer.insert(peer.end(), inserted.begin(), inserted.end());
  peer.insert(peer.end(), local.begin() + 100000, local.begin() + 150000);
  const std::vector<uint8_t> replaced = RandomBytes(19000, 78);
  peer.insert(peer.end(), replaced.begin(), replaced.end());
  peer.insert(peer.end(), local.begin() + 170000, local.end());
  return peer;
}

TEST_F(WindowSession, ConnectCompareAndSynchroniseThroughTheWidgets) {
  const std::vector<uint8_t> local = RandomBytes(204800, 5);
  const std::vector<uint8_t> peerBytes = PeerVersion(local);
  const std::string localPath = dir.Write("local.bin", local);
  const std::string peerPath = dir.Write("peer.bin", peerBytes);
  const std::string savedPath = (dir.path() / "saved.bin").string();
  const int port = peer.Listen();
  peer.Offer(peerPath);

  Type(kHostField, "127.0.0.1");
  Type(kPortField, QString::number(port));
  Click(kConnectButton);
  ASSERT_NE(program.state.ServerConnection, 0);
  EXPECT_EQ(window.GetText(kConnectButton), "Disconnect");
  ASSERT_TRUE(RunUntil([&] { return window.RowCount(kServerFiles) == 1; }));
  EXPECT_EQ(window.RowText(kServerFiles, 0, 0), "peer.bin");

  AnswerFileDialogsWith(localPath);
  Click(kAddFileButton);
  EXPECT_EQ(dialogTitles, std::vector<std::string>{"Datei ausw\xc3\xa4hlen"});
  ASSERT_EQ(window.RowCount(kClientFiles), 1);
  EXPECT_EQ(window.RowText(kClientFiles, 0, 0), "local.bin");
  ASSERT_TRUE(RunUntil([&] { return peer.program.state.tables.RemoteFiles.Count() == 1; }));

  EXPECT_FALSE(window.IsControlEnabled(kCompareButton));
  ClickRow(kServerFiles, 0);
  EXPECT_FALSE(window.IsControlEnabled(kCompareButton));
  ClickRow(kClientFiles, 0);
  ASSERT_TRUE(window.IsControlEnabled(kCompareButton));

  PaintCounter progressPaints(List(kJobList)->viewport());
  Click(kCompareButton);
  ASSERT_EQ(window.RowCount(kJobList), 1);
  EXPECT_EQ(window.RowText(kJobList, 0, 0), "Compare: \"local.bin\" And \"peer.bin\"");
  ASSERT_TRUE(RunUntil([&] { return Logged("Comparison finished!"); }));
  // The Progress column was drawn anew as the answers came in (at most once
  // a frame).
  EXPECT_GE(progressPaints.count, 1);

  const QRect cell = List(kJobList)->visualRect(List(kJobList)->model()->index(0, 1));
  const QImage jobs = List(kJobList)->viewport()->grab().toImage();
  EXPECT_TRUE(HasColour(jobs, cell, kBrushGreen));
  EXPECT_TRUE(HasColour(jobs, cell, kBrushBlue));
  EXPECT_TRUE(HasColour(jobs, cell, kBrushRed));
  EXPECT_FALSE(HasColour(jobs, cell, kBrushYellow));

  EXPECT_FALSE(window.IsControlEnabled(kSyncButton));
  ClickRow(kJobList, 0);
  ASSERT_TRUE(window.IsControlEnabled(kSyncButton));
  EXPECT_EQ(window.GetText(kSyncButton), "Syncronize");

  AnswerFileDialogsWith(savedPath);
  Click(kSyncButton);
  ASSERT_TRUE(RunUntil([&] { return Logged("Syncronison complete!"); }));
  EXPECT_EQ(dialogTitles.back(), "Save file");
  EXPECT_EQ(ReadFileBytes(savedPath), peerBytes);
}

TEST_F(WindowSession, ConnectEnablesRefreshOfTheServersListAndColoursTheLabels) {
  EXPECT_EQ(LabelColour(kServerLabel), kBrushRed);
  EXPECT_EQ(LabelColour(kClientLabel), kBrushRed);
  const int port = peer.Listen();
  Type(kPortField, QString::number(port));
  Click(kConnectButton);
  ASSERT_NE(program.state.ServerConnection, 0);

  EXPECT_TRUE(window.IsControlEnabled(kServerRefresh));
  EXPECT_TRUE(window.IsControlEnabled(kAddFileButton));
  EXPECT_FALSE(window.IsControlEnabled(kClientRefresh));
  EXPECT_EQ(LabelColour(kServerLabel), kBrushYellow);
  EXPECT_EQ(LabelColour(kClientLabel), kBrushGreen);

  // Disconnecting turns the labels red again and disables nothing.
  Click(kConnectButton);
  EXPECT_EQ(window.GetText(kConnectButton), "Connect");
  EXPECT_EQ(LabelColour(kServerLabel), kBrushRed);
  EXPECT_EQ(LabelColour(kClientLabel), kBrushRed);
  EXPECT_TRUE(window.IsControlEnabled(kServerRefresh));
  EXPECT_TRUE(window.IsControlEnabled(kAddFileButton));
}

TEST_F(WindowSession, StartServerEnablesRefreshOfTheClientsListAndColoursTheLabels) {
  Type(kPortField, "0");
  Click(kServerButton);
  ASSERT_EQ(program.state.ServerRunning, 1);
  EXPECT_EQ(window.GetText(kServerButton), "StopServer");
  EXPECT_TRUE(window.IsControlEnabled(kClientRefresh));
  EXPECT_TRUE(window.IsControlEnabled(kAddFileButton));
  EXPECT_FALSE(window.IsControlEnabled(kServerRefresh));
  EXPECT_EQ(LabelColour(kServerLabel), kBrushGreen);
  EXPECT_EQ(LabelColour(kClientLabel), kBrushRed);

  ASSERT_TRUE(peer.ConnectTo(program.state.network.ServerPort()));
  ASSERT_TRUE(RunUntil([&] { return window.GetText(kClientLabel) == "Clients (1)"; }));
  EXPECT_EQ(LabelColour(kClientLabel), kBrushYellow);
}

TEST_F(WindowSession, ABusyPortIsLoggedAndTheButtonStays) {
  const int port = peer.Listen();
  Type(kPortField, QString::number(port));
  Click(kServerButton);
  EXPECT_EQ(program.state.ServerRunning, 0);
  EXPECT_TRUE(Logged("Unable to start the Server!"));
  EXPECT_EQ(window.GetText(kServerButton), "StartServer");
  EXPECT_FALSE(window.IsControlEnabled(kAddFileButton));
  EXPECT_EQ(LabelColour(kServerLabel), kBrushRed);
}

// The log box holds the last 20000 characters of its old text, CR LF and the
// newest line, wherever the cut falls: inside a line, between CR and LF, or
// inside a character of more than one byte.
TEST_F(WindowSession, TheLogBoxKeepsTheLastCharactersAndShowsTheNewestLine) {
  auto* box = static_cast<QPlainTextEdit*>(Control(kLogBox));
  std::string expected = kWindowTitle;
  for (int line = 0; line < 700; ++line) {
    std::string text = "Server: 'FileList_Add' /data/" + std::string(line % 53, 'x');
    if (line % 7 == 0) text += " Datei ausw\xc3\xa4hlen \xe2\x82\xac";
    text += std::to_string(line);
    program.host.AddLog(text);
    if (expected.size() > 20000) expected.erase(0, expected.size() - 20000);
    expected += "\r\n" + text;
    ASSERT_EQ(window.GetText(kLogBox), expected) << "line " << line;
    std::string shown = expected;
    std::erase(shown, '\r');
    ASSERT_EQ(box->toPlainText(), QString::fromUtf8(shown.data(), static_cast<int>(shown.size())))
        << "line " << line;
  }
  EXPECT_GT(expected.size(), 20000u);
  QScrollBar* bar = box->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(WindowSession, ClosingEndsTheMainLoopAfterThePassWithoutTellingThePeer) {
  const int port = peer.Listen();
  Type(kPortField, QString::number(port));
  Click(kConnectButton);
  ASSERT_TRUE(RunUntil([&] {
    return peer.program.state.tables.Clients.Count() == 1 &&
           Logged("Server: 'OK' (FileList_Get) Files: 0");
  }));
  // The peer offers a file now; its message waits in the window program's
  // socket while the user closes the window.
  peerTimer.stop();
  const std::string offered = dir.Write("late.bin", RandomBytes(100, 3));
  peer.Offer(offered);
  EXPECT_FALSE(window.Widget()->close());
  program.MainLoop();

  EXPECT_EQ(program.QuitRequested, 1);
  // The closing pass still ran the client step.
  EXPECT_TRUE(Logged("Server: 'FileList_Add' " + offered));
  EXPECT_TRUE(window.Widget()->isVisible());
  // Nothing was sent to the peer.
  const size_t peerLines = peer.log.size();
  test::RunPasses({&peer}, 20);
  EXPECT_EQ(peer.log.size(), peerLines);
}

TEST_F(WindowSession, ClosingWhileIdleEndsTheRunningMainLoop) {
  QTimer::singleShot(30, window.Widget(), [this] { window.Widget()->close(); });
  program.MainLoop();
  EXPECT_EQ(program.QuitRequested, 1);
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
