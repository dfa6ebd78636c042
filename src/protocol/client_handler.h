#pragma once

#include <span>
#include <string_view>

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// What the log says when the server connection is found gone.
inline constexpr std::string_view kServerLostLine = "Server disconnected!";

// One step of the client role: when bytes are pending on the server
// connection, handles every whole message the server has sent. Once the
// server has gone and nothing it sent is left, the log says so and the jobs
// that talked to it end; the connection stays until the user disconnects.
void ClientStep(PeerState& state, ProtocolHost& host);

// One message of the server handled, as ClientStep does for each frame; for
// a caller that has the message without a socket.
void HandleServerMessage(PeerState& state, ProtocolHost& host, std::span<const uint8_t> payload);

}  // namespace kelpie
