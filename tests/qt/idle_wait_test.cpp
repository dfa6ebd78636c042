#include "app/qt/idle_wait.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <future>
#include <thread>

#include "qt_test_app.h"

namespace kelpie {
namespace {

// The wait first watches the sockets alone; a window event while they stay
// quiet must still end it.
TEST(IdleWait, AQuietSocketDoesNotHoldBackAWindowEvent) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  // Should the wait never look at the window, this ends it after a while.
  std::promise<void> waited;
  std::thread watchdog([&, done = waited.get_future()] {
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      EXPECT_EQ(write(fds[1], "x", 1), 1);
    }
  });
  bool clicked = false;
  IdleWait idle([&] { return clicked; });
  QTimer::singleShot(20, [&] { clicked = true; });
  QElapsedTimer elapsed;
  elapsed.start();
  idle.Wait({{fds[0], POLLIN, 0}}, -1);
  EXPECT_TRUE(clicked);
  EXPECT_LT(elapsed.elapsed(), 2000);
  waited.set_value();
  watchdog.join();
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
