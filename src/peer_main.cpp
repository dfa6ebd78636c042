// Entry point of kelpie-peer, the program without a window.
#include <signal.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/headless_window.h"
#include "app/key_file.h"
#include "app/peer_options.h"
#include "app/peer_session.h"
#include "app/program.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

// The window's events, with SIGINT and SIGTERM turned into a close request.
class StopOnSignal : public kelpie::WindowEvents {
 public:
  explicit StopOnSignal(kelpie::HeadlessWindow& window) : window_(window) {}
  kelpie::WindowEvent PollEvent() override {
    if (stopRequested) return {kelpie::WindowEventKind::Close, -1};
    return window_.PollEvent();
  }
  void WaitIdle(const std::vector<pollfd>& fds, int timeoutMs) override {
    if (!stopRequested) window_.WaitIdle(fds, timeoutMs);
  }

 private:
  kelpie::HeadlessWindow& window_;
};

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void PrintLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  kelpie::PeerArguments parsed = kelpie::ParsePeerArguments(args);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "kelpie-peer: %s\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(kelpie::PeerUsage().c_str(), stdout);
    return 0;
  }
  if (!parsed.options.newKeyFile.empty()) {
    std::string error = kelpie::WriteNewKeyFile(parsed.options.newKeyFile);
    if (error.empty()) return 0;
    std::fprintf(stderr, "kelpie-peer: %s\n", error.c_str());
    return 2;
  }
  InstallStopHandlers();
  kelpie::HeadlessWindow window;
  StopOnSignal events(window);
  kelpie::Program program(window, events);
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
  program.MainLoop();
  program.Cleanup();
  return 0;
}
