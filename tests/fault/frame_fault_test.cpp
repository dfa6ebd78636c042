#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fstream>
#include <string>

#include "app/fault/error_reporter.h"
#include "app/fault/fault_hook.h"
#include "child_process.h"
#include "dialog_seam.h"
#include "support/loopback.h"
#include "transport/endpoints.h"
#include "transport/frames.h"

namespace kelpie {
namespace {

// The 1-based lines of Frames::SendFrame's body in the frame module's source.
std::pair<int, int> SendFrameLines() {
  std::ifstream source(KELPIE_FRAMES_SOURCE);
  std::string line;
  int first = 0;
  for (int number = 1; std::getline(source, line); ++number) {
    if (first == 0 && line.find("Frames::SendFrame(") != std::string::npos) first = number;
    if (first != 0 && line.starts_with("}")) return {first, number};
  }
  return {0, 0};
}

TEST(FrameModuleFault, IsReportedAsTheFrameModuleAtASendFrameLine) {
  if (!FaultHookInstalled()) GTEST_SKIP() << "the sanitizer build leaves faults to the sanitizer";
  const test::ChildOutcome outcome = test::RunInChild([](const test::ReportChannel& channel) {
    Network network;
    network.NetStartup();
    if (network.ServerOpen(0) == 0) return 2;
    const test::AdmittedClient client = test::ConnectRawClient(network);
    if (client.id == 0) return 3;
    Frames frames(network);
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const std::span<const uint8_t> payload(static_cast<const uint8_t*>(page), 64);
    // Copying the payload faults, once per load: answer No to the first.
    test::RegisterAnsweredReporter(channel, {false});
    frames.SendFrame(client.id, payload);
    return 4;
  });
  EXPECT_EQ(outcome.exitCode, 0);
  ASSERT_EQ(outcome.Reports("text").size(), 1u);
  const std::string text = outcome.Reports("text")[0];
  EXPECT_EQ(test::DialogField(text, "Description"),
            "An attemped read or write to/from an address to which that process isn't allowed");
  EXPECT_EQ(test::DialogField(text, "Module"), "Send_Receive_DebugBuffer");
  const auto [first, last] = SendFrameLines();
  const int line = std::stoi(test::DialogField(text, "LineNR"));
  EXPECT_GT(line, first);
  EXPECT_LT(line, last);
}

}  // namespace
}  // namespace kelpie
