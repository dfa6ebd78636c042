#include "protocol/peer_link.h"

#include "protocol/messages.h"
#include "protocol/messages_v2.h"

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
  requests_.getBytes += len;
  SendMessage(state_, JobConnection(state_, job), BuildBlockGet(job.fileId, start, len));
}

void PeerHost::SendStop(const CompareJob& job) {
  SendMessage(state_, JobConnection(state_, job), BuildCompareStop(job.fileId));
}

void PeerHost::SendCompareStart2(const CompareJob& job) {
  if (!job.remoteFile) return;
  SendMessage(state_, JobConnection(state_, job),
              BuildV2Start(static_cast<uint32_t>(job.fileId), job.remoteFile->path));
}

void PeerHost::SendRangeChecks(const CompareJob& job, uint32_t batch,
                               std::span<const RangeCheck> checks) {
  requests_.checks += std::ssize(checks);
  SendMessage(state_, JobConnection(state_, job),
              BuildV2Check(static_cast<uint32_t>(job.fileId), batch, checks));
}

void PeerHost::SendRangeGet(const CompareJob& job, uint32_t request, int64_t offset, int64_t len) {
  ++requests_.gets;
  requests_.getBytes += len;
  SendMessage(state_, JobConnection(state_, job),
              BuildV2Get({static_cast<uint32_t>(job.fileId), request, offset, len}));
}

int32_t PeerHost::PeerVersion(const CompareJob& job) const {
  return state_.ConnectionVersion(JobConnection(state_, job));
}

}  // namespace kelpie
