#include "protocol/client_handler.h"

#include <string>

#include "protocol/message_handler.h"
#include "protocol/message_turns.h"

namespace kelpie {

void ClientStep(PeerState& state, ProtocolHost& host) {
  ConnectionId server = state.ServerConnection;
  if (std::string refusal = state.network.TakeRefusal(server); !refusal.empty()) {
    host.AddLog("Server: refused: " + refusal);
  }
  if (!HasMessagesWaiting(state, server)) return;
  TakeMessages(state, server, [&](std::span<const uint8_t> payload) {
    HandleServerMessage(state, host, payload);
  });
}

void HandleServerMessage(PeerState& state, ProtocolHost& host, std::span<const uint8_t> payload) {
  HandleMessage(state, host, Sender{state.ServerConnection, 0, "Server: ", false}, payload);
}

}  // namespace kelpie
