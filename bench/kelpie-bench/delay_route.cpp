#include "delay_route.h"

namespace kelpie::bench {

int DelayedPort(const RunSetup& setup, int port, std::unique_ptr<PeerProcess>& proxy) {
  if (setup.rttMs <= 0) return port;
  std::vector<std::string> args = {"--target", "127.0.0.1:" + std::to_string(port), "--rtt-ms",
                                   std::to_string(setup.rttMs)};
  proxy = std::make_unique<PeerProcess>(setup.proxyProgram, args, setup.workDir + "/proxy.log");
  return proxy->WaitForListeningPort(60);
}

}  // namespace kelpie::bench
