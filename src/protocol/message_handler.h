#pragma once

#include <span>
#include <string>

#include "protocol/peer_state.h"
#include "protocol/protocol_host.h"

namespace kelpie {

// Who sent the message in hand, and how this side answers it.
struct Sender {
  ConnectionId connection = 0;  // where answers go
  // Whose files and jobs the message concerns: the client's connection on
  // the server, 0 (the server) on a client.
  ConnectionId peer = 0;
  std::string prefix;  // "Client(<id>): " or "Server: "
  bool serverRole = false;
};

// Logs, answers and applies one received message. A message shorter than
// its fixed part gets one log line naming it as malformed and is otherwise
// ignored.
void HandleMessage(PeerState& state, ProtocolHost& host, const Sender& sender,
                   std::span<const uint8_t> payload);

// Uppercase hexadecimal with at least minDigits digits.
std::string HexUpper(uint32_t value, int minDigits);

}  // namespace kelpie
