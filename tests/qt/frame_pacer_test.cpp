#include "app/qt/frame_pacer.h"

#include <gtest/gtest.h>

#include <QTest>

#include "qt_test_app.h"

namespace kelpie {
namespace {

TEST(FramePacer, AFirstRequestPaintsAtOnce) {
  int paints = 0;
  FramePacer pacer([&] { ++paints; });
  pacer.Request();
  EXPECT_EQ(paints, 1);
}

// However many requests a frame holds, one more paint follows at its end,
// so the last request's state is the one shown.
TEST(FramePacer, ABurstPaintsOnceMoreAtTheEndOfTheFrame) {
  int paints = 0;
  int shown = -1;
  int state = 0;
  FramePacer pacer([&] {
    ++paints;
    shown = state;
  });
  for (state = 1; state <= 100; ++state)
    pacer.Request();
  --state;
  EXPECT_EQ(paints, 1);
  EXPECT_EQ(shown, 1);
  QTest::qWait(3 * FramePacer::kFrameMs);
  EXPECT_EQ(paints, 2);
  EXPECT_EQ(shown, 100);
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
