#include "protocol/client_handler.h"

#include <string>

#include "compare/sync.h"
#include "protocol/message_handler.h"
#include "protocol/message_turns.h"

namespace kelpie {
namespace {

void TellServerLost(PeerState& state, ProtocolHost& host) {
  if (state.lostServer == state.ServerConnection) return;
  state.lostServer = state.ServerConnection;
  host.AddLog(std::string(kServerLostLine));
  for (CompareJob& job : state.tables.CompareJobs) {
    if (job.peer == 0) EndForLostPeer(job, host);
  }
}

}  // namespace

void ClientStep(PeerState& state, ProtocolHost& host) {
  ConnectionId server = state.ServerConnection;
  if (std::string refusal = state.network.TakeRefusal(server); !refusal.empty()) {
    host.AddLog("Server: refused: " + refusal);
  }
  if (!HasMessagesWaiting(state, server)) {
    if (state.network.PeerClosed(server)) TellServerLost(state, host);
    return;
  }
  TakeMessages(state, server, [&](std::span<const uint8_t> payload) {
    HandleServerMessage(state, host, payload);
  });
}

void HandleServerMessage(PeerState& state, ProtocolHost& host, std::span<const uint8_t> payload) {
  HandleMessage(state, host, Sender{state.ServerConnection, 0, "Server: ", false}, payload);
}

}  // namespace kelpie
