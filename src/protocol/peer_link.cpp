#include "protocol/peer_link.h"

#include "protocol/messages.h"

namespace kelpie {

void SendMessage(PeerState& state, ConnectionId connection, std::span<const uint8_t> message) {
  if (message.empty() || connection == 0) return;
  state.frames.SendFrame(connection, message);
}

ConnectionId JobConnection(const PeerState& state, const CompareJob& job) {
  return job.peer != 0 ? job.peer : state.ServerConnection;
}

void PeerHost::SendCompareStart(const CompareJob& job) {
  if (!job.remoteFile) return;
  SendMessage(state_, JobConnection(state_, job), BuildCompareStart(job.remoteFile->path));
}

void PeerHost::SendCheck(const CompareJob& job, int32_t start, int32_t len, int32_t startLong,
                         std::string_view md5) {
  ++requests_.checks;
  SendMessage(state_, JobConnection(state_, job),
              BuildBlockCheck(job.fileId, start, len, startLong, md5));
}

void PeerHost::SendGet(const CompareJob& job, int32_t start, int32_t len) {
  ++requests_.gets;
  SendMessage(state_, JobConnection(state_, job), BuildBlockGet(job.fileId, start, len));
}

void PeerHost::SendStop(const CompareJob& job) {
  SendMessage(state_, JobConnection(state_, job), BuildCompareStop(job.fileId));
}

}  // namespace kelpie
