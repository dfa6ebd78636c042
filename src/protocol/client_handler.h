#pragma once

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// One step of the client role: when bytes are pending on the server
// connection, handles every whole message the server has sent.
void ClientStep(PeerState& state, ProtocolHost& host);

}  // namespace kelpie
