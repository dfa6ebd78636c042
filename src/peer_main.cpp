// Entry point of kelpie-peer, the program without a window.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/fetch_command.h"
#include "app/headless_window.h"
#include "app/key_file.h"
#include "app/peer_options.h"
#include "app/peer_session.h"
#include "app/program.h"
#include "app/stop_signals.h"

namespace {

// Process-level options, taken out before the session's own are read.
constexpr std::string_view kStatsOption = "--stats";
constexpr char kStatsUsage[] =
    "--stats prints, on exit, how many main-loop passes ran and how long the\n"
    "longest took.\n";

void PrintLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// What the main loop did, for benchmarks that look for anything holding it up.
void PrintStats(const kelpie::PassStats& stats) {
  using Ms = std::chrono::duration<double, std::milli>;
  char line[160];
  std::snprintf(line, sizeof line,
                "Longest main-loop pass: %.1f ms (%.1f ms of processor time) of %lld passes",
                Ms(stats.longest).count(), Ms(stats.longestWork).count(),
                static_cast<long long>(stats.passes));
  PrintLine(line);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  const bool stats = std::erase(args, kStatsOption) > 0;
  kelpie::PeerArguments parsed = kelpie::ParsePeerArguments(args);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "kelpie-peer: %s\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(kelpie::PeerUsage().c_str(), stdout);
    std::fputs(kStatsUsage, stdout);
    return 0;
  }
  if (!parsed.options.newKeyFile.empty()) {
    std::string error = kelpie::WriteNewKeyFile(parsed.options.newKeyFile);
    if (error.empty()) return 0;
    std::fprintf(stderr, "kelpie-peer: %s\n", error.c_str());
    return 2;
  }
  if (!parsed.options.fetchRemote.empty()) return kelpie::RunFetchCommand(parsed.options);
  // SIGINT and SIGTERM end the main loop after the pass under way.
  kelpie::CatchStopSignals();
  kelpie::HeadlessWindow window;
  kelpie::Program program(window, window);
  program.host.SetLogSink(PrintLine);
  std::string error = kelpie::StartPeerSession(program, window, parsed.options);
  if (!error.empty()) {
    std::fprintf(stderr, "kelpie-peer: %s\n", error.c_str());
    program.Cleanup();
    return 2;
  }
  if (program.state.ServerRunning == 1) {
    PrintLine("Listening on port " + std::to_string(program.state.network.ServerPort()));
  }
  // The passes that offered the files belong to the start-up, not to the loop.
  program.passStats = {};
  program.MainLoop();
  program.Cleanup();
  if (stats) PrintStats(program.passStats);
  return 0;
}
