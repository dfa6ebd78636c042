#include "protocol/peer_state.h"

#include <random>

namespace kelpie {

PeerState::PeerState() {
  // File numbers start at a random point so that two peers rarely hand out
  // the same numbers; they are never 0 and stay below 2^30 so they do not
  // wrap during a run.
  std::random_device seed;
  tables.nextFileId = 1 + static_cast<int32_t>(seed() % (1u << 29));
}

int32_t PeerState::ConnectionVersion(ConnectionId connection) const {
  return version2Connections.contains(connection) ? 2 : 1;
}

void PeerState::Forget(ConnectionId connection) {
  version2Connections.erase(connection);
  unfinishedInput.erase(connection);
}

}  // namespace kelpie
