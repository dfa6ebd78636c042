#pragma once

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// One step of the server role: takes one endpoint event and acts on it
// (admits a client, handles every whole message a client has sent, or
// forgets a client that went away).
void ServerStep(PeerState& state, ProtocolHost& host);

// The "Client" label text on a server: "Clients (<n>)".
std::string ClientsLabelText(const PeerState& state);

}  // namespace kelpie
