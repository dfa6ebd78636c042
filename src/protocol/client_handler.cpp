#include "protocol/client_handler.h"

#include "protocol/message_handler.h"

namespace kelpie {

void ClientStep(PeerState& state, ProtocolHost& host) {
  ConnectionId server = state.ServerConnection;
  if (state.network.ConnectionPoll(server) == 0) return;
  Sender sender{server, 0, "Server: ", false};
  while (state.frames.ReceiveFrame(server) != 0) {
    HandleMessage(state, host, sender, state.frames.ReceivedFrame());
  }
}

}  // namespace kelpie
