#pragma once

#include <memory>

#include "initiator.h"
#include "peer_process.h"

namespace kelpie::bench {

// The loopback port a side connects to for reaching `port`: the port itself
// when the run adds no delay, else that of a kelpie-delay-proxy started into
// `proxy` to forward to it with the run's round-trip time. 0 when the proxy
// did not start.
int DelayedPort(const RunSetup& setup, int port, std::unique_ptr<PeerProcess>& proxy);

}  // namespace kelpie::bench
