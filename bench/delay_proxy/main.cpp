// kelpie-delay-proxy: a loopback TCP proxy that adds a round-trip delay
// without limiting throughput, so benchmarks can see how a protocol fares
// on a distant link.
#include <signal.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "loopback.h"
#include "options.h"
#include "proxy.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

// SIGINT and SIGTERM stay blocked except while the proxy waits; returns the
// mask to wait with.
sigset_t CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigset_t stops, waitMask;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(SIG_BLOCK, &stops, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  return waitMask;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kelpie::bench;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  ProxyOptions options = ParseProxyOptions(args);
  if (!options.error.empty()) {
    std::fprintf(stderr, "kelpie-delay-proxy: %s\n%s", options.error.c_str(), kProxyUsage);
    return 2;
  }
  sigset_t waitMask = CatchStopSignals();
  kelpie::UniqueFd listener = ListenLoopback(options.listenPort);
  if (!listener.valid()) {
    std::fprintf(stderr, "kelpie-delay-proxy: cannot listen on port %d\n", options.listenPort);
    return 2;
  }
  std::printf("Listening on port %d\n", LocalPort(listener.get()));
  std::fflush(stdout);
  auto oneWay = std::chrono::microseconds(options.rttMs * 500);
  DelayProxy proxy(std::move(listener), options.targetHost, options.targetPort, oneWay);
  proxy.Run(stopRequested, waitMask);
  return 0;
}
