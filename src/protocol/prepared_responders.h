#pragma once

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// Version-2 responder jobs whose file is still being hashed and indexed
// beside the main loop: sends, once per main-loop pass, the acceptances that
// have become ready and, while the pass has time, the answers to the checks
// that waited for them, and shows the others' progress.
void AnswerPreparedResponders(PeerState& state, ProtocolHost& host);

}  // namespace kelpie
