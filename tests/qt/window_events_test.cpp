#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/qt/qt_window.h"
#include "protocol/peer_state.h"
#include "qt_test_app.h"

namespace kelpie {
namespace {

class WindowEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Let the window settle, then start from an empty queue.
    while (window.PollEvent().kind != WindowEventKind::None) {
    }
  }

  QTreeWidget* List(int id) { return static_cast<QTreeWidget*>(window.Control(id)); }
  QPoint RowCentre(int id, int row) {
    return List(id)->visualRect(List(id)->model()->index(row, 0)).center();
  }
  void Click(int id) {
    QTest::mouseClick(window.Control(id), Qt::LeftButton, {}, window.Control(id)->rect().center());
  }
  void ExpectControl(int id) {
    const WindowEvent event = window.PollEvent();
    EXPECT_EQ(event.kind, WindowEventKind::Control);
    EXPECT_EQ(event.controlId, id);
  }
  void ExpectNone() { EXPECT_EQ(window.PollEvent().kind, WindowEventKind::None); }

  PeerState state;
  QtWindow window{state};
};

TEST_F(WindowEventsTest, ButtonClicksQueueTheirIdsInOrder) {
  Click(kServerButton);
  Click(kConnectButton);
  Click(kServerButton);
  ExpectControl(kServerButton);
  ExpectControl(kConnectButton);
  ExpectControl(kServerButton);
  ExpectNone();
}

TEST_F(WindowEventsTest, DisabledButtonsQueueNothing) {
  Click(kSyncButton);
  ExpectNone();
  window.EnableControl(kSyncButton, true);
  Click(kSyncButton);
  ExpectControl(kSyncButton);
}

TEST_F(WindowEventsTest, ClickOnARowSelectsItAndQueuesOneEvent) {
  window.AddRow(kServerFiles, "a\n1");
  window.AddRow(kServerFiles, "b\n2");
  ExpectNone();
  QTest::mouseClick(List(kServerFiles)->viewport(), Qt::LeftButton, {}, RowCentre(kServerFiles, 1));
  ExpectControl(kServerFiles);
  ExpectNone();
  EXPECT_EQ(window.SelectedRow(kServerFiles), 1);
}

TEST_F(WindowEventsTest, RightClickAndDoubleClickOnAListQueueEvents) {
  auto* viewport = List(kClientFiles)->viewport();
  QTest::mouseClick(viewport, Qt::RightButton, {}, QPoint(50, 150));  // below any row
  ExpectControl(kClientFiles);
  ExpectNone();
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(50, 150));
  ExpectControl(kClientFiles);
  QTest::mouseClick(viewport, Qt::MiddleButton, {}, QPoint(50, 150));
  ExpectNone();
}

TEST_F(WindowEventsTest, KeyboardSelectionAndActivationQueueEvents) {
  window.AddRow(kJobList, "Compare: \"a\"");
  window.AddRow(kJobList, "Compare: \"b\"");
  QTreeWidget* jobs = List(kJobList);
  jobs->setFocus();
  jobs->setCurrentItem(jobs->topLevelItem(0));
  while (window.PollEvent().kind != WindowEventKind::None) {
  }
  QTest::keyClick(jobs, Qt::Key_Down);
  ExpectControl(kJobList);
  ExpectNone();
  EXPECT_EQ(window.SelectedRow(kJobList), 1);
  QTest::keyClick(jobs, Qt::Key_Return);
  ExpectControl(kJobList);
}

TEST_F(WindowEventsTest, ProgramChangesToListsQueueNothing) {
  window.AddRow(kServerFiles, "a\n1");
  List(kServerFiles)->setCurrentItem(List(kServerFiles)->topLevelItem(0));
  while (window.PollEvent().kind != WindowEventKind::None) {
  }
  window.ClearList(kServerFiles);
  window.AddRow(kServerFiles, "b\n2");
  window.SetText(kServerButton, "StopServer");
  ExpectNone();
}

TEST_F(WindowEventsTest, CloseIsReportedOnceAndTheWindowStays) {
  EXPECT_FALSE(window.Widget()->close());
  EXPECT_TRUE(window.Widget()->isVisible());
  Click(kServerButton);
  // Control events already queued come first.
  ExpectControl(kServerButton);
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::Close);
  ExpectNone();
  window.Widget()->close();
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::Close);
}

class Socketpair {
 public:
  Socketpair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  ~Socketpair() {
    close(fds_[0]);
    close(fds_[1]);
  }
  int reader() const { return fds_[0]; }
  void Send() const { EXPECT_EQ(write(fds_[1], "x", 1), 1); }

 private:
  int fds_[2] = {-1, -1};
};

// Turns a WaitIdle that would never return into a failed test: after a long
// while the window is asked to close, which wakes the wait.
class Watchdog {
 public:
  explicit Watchdog(QWidget* window) {
    QTimer::singleShot(30000, &timer_, [window] { window->close(); });
  }

 private:
  QObject timer_;
};

TEST_F(WindowEventsTest, WaitIdleReturnsWhenASocketBecomesReadable) {
  Socketpair pair;
  Watchdog watchdog(window.Widget());
  QTimer::singleShot(20, [&pair] { pair.Send(); });
  window.WaitIdle({{pair.reader(), POLLIN, 0}}, -1);  // no time limit
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::None);
}

TEST_F(WindowEventsTest, WaitIdleReturnsAtOnceForAnAlreadyReadableSocket) {
  Socketpair pair;
  pair.Send();
  Watchdog watchdog(window.Widget());
  window.WaitIdle({{pair.reader(), POLLIN, 0}}, -1);
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::None);
  // Still unread, it wakes the next wait too.
  window.WaitIdle({{pair.reader(), POLLIN, 0}}, -1);
  EXPECT_EQ(window.PollEvent().kind, WindowEventKind::None);
}

TEST_F(WindowEventsTest, WaitIdleReturnsForAWindowEvent) {
  Watchdog watchdog(window.Widget());
  auto* button = static_cast<QPushButton*>(window.Control(kConnectButton));
  QTimer::singleShot(20, button, [button] { button->click(); });
  window.WaitIdle({}, -1);
  ExpectControl(kConnectButton);
}

TEST_F(WindowEventsTest, WaitIdleReturnsAfterTheTimeout) {
  Socketpair pair;
  window.WaitIdle({{pair.reader(), POLLIN, 0}}, 10);
  window.WaitIdle({}, 0);
  ExpectNone();
}

TEST_F(WindowEventsTest, WaitIdleKeepsNotifiersWhileTheDescriptorsStayTheSame) {
  Socketpair first;
  Socketpair second;
  const std::vector<pollfd> fds{{first.reader(), POLLIN, 0},
                                {second.reader(), POLLIN | POLLOUT, 0},
                                {second.reader(), POLLIN, 0},  // same again
                                {-1, POLLIN, 0}};              // ignored, as by poll()
  window.WaitIdle(fds, 0);
  const IdleWait& idle = window.Idle();
  ASSERT_EQ(idle.NotifierCount(), 3u);
  const QSocketNotifier* kept = idle.Notifier(0);
  for (size_t i = 0; i < idle.NotifierCount(); ++i)
    EXPECT_FALSE(idle.Notifier(i)->isEnabled());

  window.WaitIdle(fds, 0);
  EXPECT_EQ(idle.Notifier(0), kept);

  window.WaitIdle({{first.reader(), POLLIN, 0}}, 0);
  EXPECT_EQ(idle.NotifierCount(), 1u);
  window.WaitIdle({}, 0);
  EXPECT_EQ(idle.NotifierCount(), 0u);
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
