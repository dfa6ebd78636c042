#pragma once

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// Once a pass: on every version-2 connection, a keep-alive when nothing was
// sent for a while, and a peer heard from not at all for the silence limit
// (its machine gone, or its program frozen) is dropped with a log line, as
// if it had closed the connection.
void KeepConnectionsAlive(PeerState& state, ProtocolHost& host);

// Only the keep-alives that are due: for a caller that cannot take or
// handle messages just now (a modal dialog is open).
void SendDueKeepAlives(PeerState& state);

}  // namespace kelpie
