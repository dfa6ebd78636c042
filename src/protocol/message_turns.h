#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "protocol/peer_state.h"

namespace kelpie {

// Takes a connection's whole messages and hands each to `handle`: at least
// one when any is there, more while the main-loop pass has time left. A
// connection left with messages is remembered, so it is served again next
// pass without waiting for new bytes, and one peer's flood never holds the
// loop past its pass.
void TakeMessages(PeerState& state, ConnectionId id,
                  const std::function<void(std::span<const uint8_t>)>& handle);

// Whether a connection has messages waiting: left over from an earlier pass,
// or bytes not read yet.
bool HasMessagesWaiting(PeerState& state, ConnectionId id);

}  // namespace kelpie
