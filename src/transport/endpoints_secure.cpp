// Secure mode of the endpoints.
//
// Each connection gets a TLS session the moment it exists: the connecting side
// sends its hello at once, the accepting side waits for it. FlushPending moves
// every unfinished handshake on once per pass, so a slow or hostile peer costs
// one non-blocking step, never a wait. Plaintext the program sends meanwhile
// is held and encrypted, in order, once the handshake is done; the records
// then go through the same pending output as plain bytes. A handshake that
// fails or outlives the limit closes the socket and leaves a refusal: an
// accepted connection keeps its slot until ServerPoll reports it as refused,
// an outgoing one stays given up, like a lost connection, until its owner
// closes it.

#include <utility>

#include "transport/endpoints.h"
#include "transport/tls_context.h"
#include "transport/tls_stream.h"

namespace kelpie {
namespace {

constexpr char kNoValidKey[] = "no valid key";
constexpr char kLost[] = "connection lost during the handshake";

std::string LimitText(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

}  // namespace

bool Network::UseKey(const PresharedKey& key) {
  // Open sessions use the context's output method: it may not change under them.
  if (!connections_.empty()) return false;
  tls_ = TlsContext::Create(key);
  return tls_ != nullptr;
}

std::string Network::TakeRefusal(ConnectionId id) {
  auto found = refusals_.find(id);
  if (found == refusals_.end()) return "";
  std::string reason = std::move(found->second);
  refusals_.erase(found);
  return reason;
}

bool Network::StartTls(Connection& connection, bool accepting) {
  connection.tls = TlsStream::Open(*tls_, connection.fd.get(), accepting);
  if (!connection.tls) return false;
  connection.handshakeDeadline = std::chrono::steady_clock::now() + handshakeLimit_;
  connection.reported = !accepting;
  return accepting || AdvanceHandshake(connection).empty();
}

std::string Network::AdvanceHandshake(Connection& connection) {
  TlsStream& tls = *connection.tls;
  uint64_t readBefore = tls.WireBytesRead();
  TlsStep step = tls.Handshake();
  bytesReceived_ += static_cast<int64_t>(tls.WireBytesRead() - readBefore);
  bool sent = SendTlsOutput(connection);  // also an alert that says why it failed
  if (step == TlsStep::Failed) return kNoValidKey;
  if (!sent || step == TlsStep::Closed) return kLost;
  if (step == TlsStep::Waiting) {
    if (std::chrono::steady_clock::now() < connection.handshakeDeadline) return "";
    return "no handshake within " + LimitText(handshakeLimit_);
  }
  std::vector<uint8_t> held = std::exchange(connection.held, {});
  return SendSecure(connection, held) ? "" : kLost;
}

void Network::Refuse(ConnectionId id, Connection& connection, std::string reason) {
  Flush(connection);  // one try, so the peer learns why
  refusals_[id] = std::move(reason);
  GiveUp(id, connection);
}

int32_t Network::PollHandshake(ConnectionId id, Connection& connection) {
  if (connection.gone) {
    refusals_.try_emplace(id, kLost);  // given up by a failed send, not by Refuse
    CloseConnection(id);
    return EventRefused;
  }
  if (!connection.tls->Established()) return EventNone;
  connection.reported = true;
  return EventConnected;
}

bool Network::SendSecure(Connection& connection, std::span<const uint8_t> bytes) {
  if (!connection.tls->Established()) {
    if (connection.held.size() + bytes.size() > kMaxPendingOutput) return false;
    connection.held.insert(connection.held.end(), bytes.begin(), bytes.end());
    return true;
  }
  return connection.tls->Encrypt(bytes) && SendTlsOutput(connection);
}

bool Network::SendTlsOutput(Connection& connection) {
  std::vector<uint8_t>& output = connection.tls->Output();
  bool queued = output.empty() || Queue(connection, output);
  output.clear();
  return queued;
}

int32_t Network::ReceiveSecure(Connection& connection, uint8_t* buffer, int32_t room) {
  TlsStream& tls = *connection.tls;
  if (!tls.Established()) return 0;
  uint64_t readBefore = tls.WireBytesRead();
  TlsRead read = tls.Read(buffer, room);
  bytesReceived_ += static_cast<int64_t>(tls.WireBytesRead() - readBefore);
  // A record that fails to decrypt ends the stream like a close: nothing
  // after it can be trusted.
  if (read.ended) connection.peerClosed = true;
  return read.bytes;
}

}  // namespace kelpie
