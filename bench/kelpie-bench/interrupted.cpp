#include "interrupted.h"

#include <cstdio>
#include <memory>

#include "delay_route.h"
#include "peer_process.h"
#include "run_child.h"

namespace kelpie::bench {

bool RunInterrupted(RunSetup setup, RunLabel label) {
  std::vector<std::string> args = KeyArgs(setup.keyFile);
  args.insert(args.end(),
              {"--listen", "0", "--netversion", std::to_string(setup.netVersion), setup.peerPath});
  PeerProcess peer(setup.peerProgram, args, setup.workDir + "/peer.log");
  std::unique_ptr<PeerProcess> proxy;
  int port = peer.WaitForListeningPort(setup.timeoutSeconds);
  if (port != 0) port = DelayedPort(setup, port, proxy);
  if (port == 0) {
    std::fprintf(stderr, "kelpie-bench: kelpie-peer or its proxy did not start\n");
    return false;
  }
  setup.peerPort = port;
  setup.peerPid = peer.pid();
  setup.killHalfway = true;
  label.run = "interrupted";
  RunInChild(setup, label);
  if (StopRequested()) return false;
  setup.killHalfway = false;
  label.run = "rerun";
  return RunInChild(setup, label);
}

}  // namespace kelpie::bench
