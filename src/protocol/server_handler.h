#pragma once

#include <span>
#include <string>

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// One step of the server role: takes one endpoint event and acts on it
// (admits a client, handles the whole messages a client has sent, or
// forgets a client that went away), then serves the other clients with
// messages waiting, while the pass has time (message_turns.h).
void ServerStep(PeerState& state, ProtocolHost& host);

// What ServerStep does on each event, for a caller that has the event
// without a socket: a client admitted, one message of a client handled, a
// client forgotten with its files and jobs.
void AdmitClient(PeerState& state, ProtocolHost& host, ConnectionId id);
void HandleClientMessage(PeerState& state, ProtocolHost& host, ConnectionId id,
                         std::span<const uint8_t> payload);
void ForgetClient(PeerState& state, ProtocolHost& host, ConnectionId id);

// How the log names a client: "Client(<id>)".
std::string ClientName(ConnectionId id);

// The "Client" label text on a server: "Clients (<n>)".
std::string ClientsLabelText(const PeerState& state);

}  // namespace kelpie
