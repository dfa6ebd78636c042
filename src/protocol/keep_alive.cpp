#include "protocol/keep_alive.h"

#include <string>
#include <vector>

#include "protocol/message_turns.h"
#include "protocol/messages_v2.h"
#include "protocol/peer_link.h"
#include "protocol/server_handler.h"

namespace kelpie {
namespace {

using Clock = std::chrono::steady_clock;

// "45 s", or with tenths when the limit has them ("0.6 s").
std::string SilenceText(const PeerState& state) {
  const int64_t tenths = (state.silenceLimit.count() + 50) / 100;
  std::string seconds = std::to_string(tenths / 10);
  if (tenths % 10 != 0) seconds += "." + std::to_string(tenths % 10);
  return "silent for " + seconds + " s, connection dropped!";
}

// The client role's connection is only closed here; ClientStep then finds
// it gone and ends its jobs. A client of the server role goes at once.
void DropSilentPeer(PeerState& state, ProtocolHost& host, ConnectionId id) {
  if (id == state.ServerConnection) {
    host.AddLog("Server: " + SilenceText(state));
    state.network.ConnectionClose(id);
    return;
  }
  host.AddLog(ClientName(id) + ": " + SilenceText(state));
  state.network.ConnectionClose(id);
  ForgetClient(state, host, id);
}

}  // namespace

void SendDueKeepAlives(PeerState& state) {
  const Clock::time_point now = Clock::now();
  for (const ConnectionId id : state.version2Connections) {
    if (state.network.IsOpen(id) && now - state.network.LastSent(id) >= state.keepAliveInterval) {
      SendMessage(state, id, BuildV2KeepAlive());
    }
  }
}

void KeepConnectionsAlive(PeerState& state, ProtocolHost& host) {
  SendDueKeepAlives(state);
  const Clock::time_point now = Clock::now();
  std::vector<ConnectionId> silent;
  for (const ConnectionId id : state.version2Connections) {
    // Bytes already waiting are not silence, however long they waited.
    if (state.network.IsOpen(id) && now - state.network.LastReceived(id) >= state.silenceLimit &&
        !HasMessagesWaiting(state, id)) {
      silent.push_back(id);
    }
  }
  for (const ConnectionId id : silent)
    DropSilentPeer(state, host, id);
}

}  // namespace kelpie
