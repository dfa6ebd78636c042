#include "app/qt/role_label.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QImage>

#include "app/qt/brushes.h"
#include "app/qt/qt_window.h"
#include "protocol/peer_state.h"
#include "qt_test_app.h"

namespace kelpie {
namespace {

using test::PaintCounter;

struct LabelCase {
  const char* name;
  int32_t serverRunning;
  ConnectionId serverConnection;
  int clients;
  QColor serverLabel;
  QColor clientLabel;
};

class RoleLabelColours : public ::testing::TestWithParam<LabelCase> {};

// A corner pixel of the label as painted now (the text sits in the middle).
QColor PaintedBackground(QtWindow& window, int id) {
  window.Repaint(id);
  return window.Control(id)->grab().toImage().pixelColor(1, 1);
}

TEST_P(RoleLabelColours, FollowTheStateWhenPainted) {
  const LabelCase& c = GetParam();
  PeerState state;
  QtWindow window(state);
  // Built in the idle state; the colours follow later changes.
  state.ServerRunning = c.serverRunning;
  state.ServerConnection = c.serverConnection;
  for (int i = 0; i < c.clients; ++i)
    state.tables.Clients.Append()->connection = i + 1;

  EXPECT_EQ(ServerLabelColour(state), c.serverLabel);
  EXPECT_EQ(ClientLabelColour(state), c.clientLabel);
  EXPECT_EQ(PaintedBackground(window, kServerLabel), c.serverLabel);
  EXPECT_EQ(PaintedBackground(window, kClientLabel), c.clientLabel);
}

INSTANTIATE_TEST_SUITE_P(
    States, RoleLabelColours,
    ::testing::Values(LabelCase{"Idle", 0, 0, 0, kBrushRed, kBrushRed},
                      LabelCase{"Listening", 1, 0, 0, kBrushGreen, kBrushRed},
                      LabelCase{"ServingClients", 1, 0, 2, kBrushGreen, kBrushYellow},
                      LabelCase{"Connected", 0, 7, 0, kBrushYellow, kBrushGreen},
                      LabelCase{"ListeningAndConnected", 1, 7, 1, kBrushGreen, kBrushGreen},
                      // After StopServer the Clients table may still hold entries.
                      LabelCase{"StoppedWithFormerClients", 0, 0, 1, kBrushRed, kBrushYellow}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Repaint, PaintsBeforeItReturns) {
  PeerState state;
  QtWindow window(state);
  state.tables.CompareJobs.Append();
  window.AddRow(kJobList, "Compare: \"a\"\n");
  QCoreApplication::processEvents();
  PaintCounter label(window.Control(kServerLabel));
  PaintCounter jobs(static_cast<QAbstractScrollArea*>(window.Control(kJobList))->viewport());
  window.Repaint(kServerLabel);
  window.Repaint(kJobList);
  EXPECT_EQ(label.count, 1);
  EXPECT_EQ(jobs.count, 1);
}

TEST(Brushes, HaveTheirExactColours) {
  EXPECT_EQ(kBrushGreen, QColor(0, 239, 0));
  EXPECT_EQ(kBrushDarkGreen, QColor(0, 175, 0));
  EXPECT_EQ(kBrushRed, QColor(239, 0, 0));
  EXPECT_EQ(kBrushYellow, QColor(239, 239, 0));
  EXPECT_EQ(kBrushGrey, QColor(112, 112, 112));
  EXPECT_EQ(kBrushBlue, QColor(0, 0, 239));
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
