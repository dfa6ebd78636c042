#pragma once

#include <span>
#include <string>

#include "compare/entries.h"
#include "protocol/message_handler.h"
#include "protocol/peer_link.h"

namespace kelpie {

// Everything one received message needs while it is handled.
struct MessageContext {
  PeerState& state;
  ProtocolHost& host;
  const Sender& sender;
  std::span<const uint8_t> payload;

  void Log(const std::string& text) const { host.AddLog(sender.prefix + text); }
  void Answer(std::span<const uint8_t> message) const {
    SendMessage(state, sender.connection, message);
  }
  void Malformed(const char* name) const {
    Log("Malformed '" + std::string(name) + "' ignored (" + std::to_string(payload.size()) +
        " bytes)");
  }
};

// Visits, in table order, the responder jobs of this sender with this fileId.
template <class F>
void ForEachResponderJob(const MessageContext& c, int32_t fileId, F&& visit) {
  WalkTable(c.state.tables.CompareJobs, [&](CompareJob& job) {
    if (job.peer == c.sender.peer && job.fileId == fileId && !job.remoteFile) visit(job);
  });
}

// Visits, in table order, the initiator jobs of this sender with this fileId.
template <class F>
void ForEachInitiatorJob(const MessageContext& c, int32_t fileId, F&& visit) {
  WalkTable(c.state.tables.CompareJobs, [&](CompareJob& job) {
    if (job.peer == c.sender.peer && job.fileId == fileId && job.remoteFile) visit(job);
  });
}

// The messages of the second protocol version (version2_handler.cpp). False
// when the command is not one of them.
bool HandleVersion2Message(MessageContext& c);

}  // namespace kelpie
