#pragma once

#include <span>

#include "protocol/peer_state.h"

namespace kelpie::fuzz {

// Ends the run (Require) when a program's tables contradict each other, or
// the clients a server has admitted and not yet forgotten: files, clients
// and jobs that point at nothing, a job outside its states, block lists
// that no longer cover the local file or break the order the engine keeps,
// and a synchronisation whose positions and outstanding Gets disagree.
void CheckTables(const PeerState& state, bool serverRole, std::span<const ConnectionId> clients);

}  // namespace kelpie::fuzz
