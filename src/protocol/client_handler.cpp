#include "protocol/client_handler.h"

#include <string>

#include "protocol/message_handler.h"

namespace kelpie {

void ClientStep(PeerState& state, ProtocolHost& host) {
  ConnectionId server = state.ServerConnection;
  if (std::string refusal = state.network.TakeRefusal(server); !refusal.empty()) {
    host.AddLog("Server: refused: " + refusal);
  }
  if (state.network.ConnectionPoll(server) == 0) return;
  while (state.frames.ReceiveFrame(server) != 0) {
    HandleServerMessage(state, host, state.frames.ReceivedFrame());
  }
}

void HandleServerMessage(PeerState& state, ProtocolHost& host, std::span<const uint8_t> payload) {
  HandleMessage(state, host, Sender{state.ServerConnection, 0, "Server: ", false}, payload);
}

}  // namespace kelpie
