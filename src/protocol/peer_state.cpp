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

void PeerState::Greeted(ConnectionId connection) {
  greetedAt[connection] = std::chrono::steady_clock::now();
}

void PeerState::GreetingAnswered(ConnectionId connection) {
  auto sent = greetedAt.find(connection);
  if (sent == greetedAt.end()) return;
  roundTripMs[connection] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent->second)
          .count();
  greetedAt.erase(sent);
}

double PeerState::RoundTripMs(ConnectionId connection) const {
  auto known = roundTripMs.find(connection);
  return known == roundTripMs.end() ? 0 : known->second;
}

void PeerState::Forget(ConnectionId connection) {
  version2Connections.erase(connection);
  greetedAt.erase(connection);
  roundTripMs.erase(connection);
}

}  // namespace kelpie
