#pragma once

#include <span>

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// One step of the client role: when bytes are pending on the server
// connection, handles every whole message the server has sent.
void ClientStep(PeerState& state, ProtocolHost& host);

// One message of the server handled, as ClientStep does for each frame; for
// a caller that has the message without a socket.
void HandleServerMessage(PeerState& state, ProtocolHost& host, std::span<const uint8_t> payload);

}  // namespace kelpie
