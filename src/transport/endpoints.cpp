// TCP/IPv4 endpoints over non-blocking POSIX sockets.
//
// Output: a send first pushes out whatever the connection still holds from
// earlier sends, then offers the new bytes to the socket; whatever the socket
// does not take at once is appended to the connection's pending output, which
// FlushPending pushes out on later passes. Bytes therefore leave in the order
// they were handed over and a frame is never cut short: either every byte goes
// out or the connection is given up as gone. A given-up connection keeps its id
// (so the server can still report it once as disconnected, and the client role
// keeps its id until the user disconnects) but holds no socket any more.

#include "transport/endpoints.h"

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "transport/socket_ops.h"
#include "transport/tls_context.h"
#include "transport/tls_stream.h"

namespace kelpie {

namespace {

constexpr size_t kPeekBytes = 8;

bool IsGonePeerError(int error) {
  return error == ECONNABORTED || error == ECONNRESET || error == ENOTCONN || error == ESHUTDOWN ||
         error == EPIPE;
}

// Sends as much of bytes as the socket takes now, never raising SIGPIPE.
// Returns the bytes sent, or -1 when the connection has failed.
ssize_t SendSome(int fd, std::span<const uint8_t> bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
      break;
    } else {
      return -1;
    }
  }
  return static_cast<ssize_t>(sent);
}

}  // namespace

Network::Network() = default;

Network::~Network() {
  // Whoever registered the handler may already be gone; close silently.
  onClosed_ = nullptr;
}

int32_t Network::NetStartup() {
  // POSIX sockets need no start-up; the table starts out free.
  return 1;
}

void Network::NetShutdown() {
  ServerClose();
  while (!connections_.empty()) {
    CloseConnection(connections_.begin()->first);
  }
  refusals_.clear();
}

int32_t Network::ServerOpen(int32_t port) {
  UniqueFd fd = NewStreamSocket(true);
  if (!fd.valid()) return 0;
  int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
  if (::listen(fd.get(), kListenBacklog) != 0) return 0;
  // A second open replaces the first listener instead of leaking it.
  ServerClose();
  listener_ = std::move(fd);
  return 1;
}

void Network::ServerClose() {
  for (ConnectionId& slot : slots_) {
    if (slot == 0) continue;
    refusals_.erase(slot);
    CloseConnection(std::exchange(slot, 0));
  }
  clientCount_ = 0;
  eventConnection_ = 0;
  listener_.Reset();
}

int32_t Network::ServerPoll() {
  if (!listener_.valid()) return EventNone;
  // A secure connection is reported once its handshake has finished.
  if (ConnectionId accepted = AcceptWaiting(); accepted != 0 && !tls_) {
    eventConnection_ = accepted;
    return EventConnected;
  }
  for (size_t slot = 0; slot < slots_.size(); ++slot) {
    if (slots_[slot] == 0) continue;
    if (int32_t event = PollSlot(slot); event != EventNone) return event;
  }
  return EventNone;
}

ConnectionId Network::AcceptWaiting() {
  UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd.valid()) return 0;
  auto free = std::find(slots_.begin(), slots_.end(), 0);
  if (free == slots_.end()) return 0;  // no slot: fd closes the connection at once
  SetNoDelay(fd.get());
  SetKeepAlive(fd.get());
  ConnectionId id = Register(std::move(fd));
  if (tls_ && !StartTls(connections_[id], true)) {
    connections_.erase(id);
    return 0;
  }
  *free = id;
  ++clientCount_;
  return id;
}

int32_t Network::PollSlot(size_t slot) {
  ConnectionId id = slots_[slot];
  eventConnection_ = id;
  if (Connection* secure = Find(id); secure != nullptr) {
    if (!secure->reported) return PollHandshake(id, *secure);
    // Decrypted bytes no longer show on the socket.
    if (secure->tls && secure->tls->HasPlaintext()) return EventData;
    if (secure->tls && secure->peerClosed) {
      CloseConnection(id);
      return EventDisconnected;
    }
  }
  if (const Connection* connection = Find(id); connection != nullptr && !connection->gone) {
    uint8_t peek[kPeekBytes];
    ssize_t n = ::recv(connection->fd.get(), peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return EventData;
    if (n < 0 && !IsGonePeerError(errno)) return EventNone;
  }
  CloseConnection(id);
  return EventDisconnected;
}

ConnectionId Network::ServerEventConnection() const {
  return eventConnection_;
}

int32_t Network::ServerPort() const {
  return listener_.valid() ? LocalPort(listener_.get()) : 0;
}

int32_t Network::ClientCount() const {
  return clientCount_;
}

ConnectionId Network::ClientConnect(std::string_view host, int32_t port) {
  std::optional<sockaddr_in> address = ResolveIPv4(host, static_cast<uint16_t>(port & 0xFFFF));
  if (!address) return 0;
  UniqueFd fd = NewStreamSocket(false);
  if (!fd.valid() || !ConnectBlocking(fd.get(), *address)) return 0;
  // Blocking sends could deadlock two peers that both write; from here on the
  // connection behaves like every other.
  if (!SetNonBlocking(fd.get())) return 0;
  SetNoDelay(fd.get());
  SetKeepAlive(fd.get());
  ConnectionId id = Register(std::move(fd));
  if (tls_ && !StartTls(connections_[id], false)) {
    connections_.erase(id);
    return 0;
  }
  return id;
}

void Network::ConnectionClose(ConnectionId id) {
  if (id <= 0) return;
  CloseConnection(id);
  refusals_.erase(id);
}

int32_t Network::ConnectionPoll(ConnectionId id) {
  Connection* connection = Find(id);
  if (connection == nullptr || connection->gone) return 0;
  if (connection->tls) {
    if (!connection->tls->Established() || connection->peerClosed) return 0;
    if (connection->tls->HasPlaintext()) return 2;
  }
  int fd = connection->fd.get();
  int count = 0;
  if (::ioctl(fd, FIONREAD, &count) == 0 && count > 0) return 2;
  // Nothing buffered. Remember a peer that has closed, so the idle wait stops
  // waking up for an end of stream nobody will ever read.
  uint8_t probe = 0;
  ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return 2;
  if (n == 0 || IsGonePeerError(errno)) connection->peerClosed = true;
  return 0;
}

int32_t Network::ConnectionReceive(ConnectionId id, uint8_t* buffer, int32_t room) {
  Connection* connection = Find(id);
  if (connection == nullptr || connection->gone || buffer == nullptr || room < 0) return -1;
  if (connection->tls) {
    const int32_t n = ReceiveSecure(*connection, buffer, room);
    if (n > 0) connection->receivedAt = std::chrono::steady_clock::now();
    return n;
  }
  ssize_t n = 0;
  do {
    n = ::recv(connection->fd.get(), buffer, static_cast<size_t>(room), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n == 0 && room > 0) connection->peerClosed = true;
  if (n > 0) {
    bytesReceived_ += n;
    connection->receivedAt = std::chrono::steady_clock::now();
  }
  return n < 0 ? -1 : static_cast<int32_t>(n);
}

int32_t Network::ConnectionSend(ConnectionId id, std::span<const uint8_t> bytes) {
  Connection* connection = Find(id);
  if (connection == nullptr || connection->gone) return -1;
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return -1;
  bool queued = Flush(*connection) &&
                (connection->tls ? SendSecure(*connection, bytes) : Queue(*connection, bytes));
  if (!queued) {
    GiveUp(id, *connection);
    return -1;
  }
  connection->sentAt = std::chrono::steady_clock::now();
  return static_cast<int32_t>(bytes.size());
}

bool Network::IsOpen(ConnectionId id) const {
  const Connection* connection = Find(id);
  return connection != nullptr && !connection->gone;
}

std::chrono::steady_clock::time_point Network::LastReceived(ConnectionId id) const {
  const Connection* connection = Find(id);
  return connection == nullptr ? std::chrono::steady_clock::time_point{} : connection->receivedAt;
}

std::chrono::steady_clock::time_point Network::LastSent(ConnectionId id) const {
  const Connection* connection = Find(id);
  return connection == nullptr ? std::chrono::steady_clock::time_point{} : connection->sentAt;
}

bool Network::PeerClosed(ConnectionId id) const {
  const Connection* connection = Find(id);
  return connection == nullptr || connection->gone || connection->peerClosed;
}

void Network::FlushPending() {
  // Closed handlers may call back into this object, so give up only after the walk.
  std::vector<std::pair<ConnectionId, std::string>> failed;
  for (auto& [id, connection] : connections_) {
    if (connection.gone) continue;
    std::string refusal;
    if (connection.tls && !connection.tls->Established()) refusal = AdvanceHandshake(connection);
    if (!refusal.empty() || !Flush(connection)) failed.emplace_back(id, std::move(refusal));
  }
  for (auto& [id, refusal] : failed) {
    Connection* connection = Find(id);
    if (connection == nullptr) continue;
    if (refusal.empty()) {
      GiveUp(id, *connection);
    } else {
      Refuse(id, *connection, std::move(refusal));
    }
  }
}

bool Network::HasPendingOutput(ConnectionId id) const {
  const Connection* connection = Find(id);
  return connection != nullptr && !connection->gone && !connection->pending.empty();
}

void Network::AppendPollFds(std::vector<pollfd>& fds) const {
  if (listener_.valid()) fds.push_back({listener_.get(), POLLIN, 0});
  for (const auto& [id, connection] : connections_) {
    if (connection.gone) continue;
    short events = connection.peerClosed ? 0 : POLLIN;
    if (!connection.pending.empty()) events |= POLLOUT;
    // Plaintext already decrypted shows on no descriptor; a socket with room
    // to write ends the wait at once instead.
    if (connection.tls && connection.tls->HasPlaintext()) events |= POLLOUT;
    if (events != 0) fds.push_back({connection.fd.get(), events, 0});
  }
}

void Network::SetClosedHandler(std::function<void(ConnectionId)> handler) {
  onClosed_ = std::move(handler);
}

ConnectionId Network::Register(UniqueFd fd) {
  ConnectionId id = nextId_++;
  Connection& connection = connections_[id];
  connection.fd = std::move(fd);
  connection.receivedAt = connection.sentAt = std::chrono::steady_clock::now();
  return id;
}

void Network::CloseConnection(ConnectionId id) {
  auto found = connections_.find(id);
  if (found == connections_.end()) return;
  bool notify = !found->second.gone;  // a given-up connection was reported already
  connections_.erase(found);
  if (auto slot = std::find(slots_.begin(), slots_.end(), id); slot != slots_.end()) {
    *slot = 0;
    --clientCount_;
  }
  if (notify) NotifyClosed(id);
}

void Network::GiveUp(ConnectionId id, Connection& connection) {
  connection.tls.reset();  // it reads through the socket about to close
  connection.held = {};
  connection.fd.Reset();
  connection.pending = {};
  connection.pendingSent = 0;
  connection.gone = true;
  NotifyClosed(id);
}

bool Network::Flush(Connection& connection) {
  if (connection.pending.empty()) return true;
  std::span<const uint8_t> unsent(connection.pending);
  ssize_t sent = SendSome(connection.fd.get(), unsent.subspan(connection.pendingSent));
  if (sent < 0) return false;
  bytesSent_ += sent;
  connection.pendingSent += static_cast<size_t>(sent);
  if (connection.pendingSent == connection.pending.size()) {
    connection.pending = {};  // release what a burst may have grown
    connection.pendingSent = 0;
  }
  return true;
}

bool Network::Queue(Connection& connection, std::span<const uint8_t> bytes) {
  // Only with nothing held may new bytes go straight to the socket.
  if (connection.pending.empty()) {
    ssize_t sent = SendSome(connection.fd.get(), bytes);
    if (sent < 0) return false;
    bytesSent_ += sent;
    bytes = bytes.subspan(static_cast<size_t>(sent));
  }
  if (bytes.empty()) return true;
  std::vector<uint8_t>& pending = connection.pending;
  if (pending.size() - connection.pendingSent + bytes.size() > kMaxPendingOutput) return false;
  // Drop the sent front once it is at least half the block: amortised O(1) per byte.
  if (connection.pendingSent > 0 && connection.pendingSent >= pending.size() / 2) {
    pending.erase(pending.begin(),
                  pending.begin() + static_cast<ptrdiff_t>(connection.pendingSent));
    connection.pendingSent = 0;
  }
  pending.insert(pending.end(), bytes.begin(), bytes.end());
  return true;
}

void Network::NotifyClosed(ConnectionId id) {
  if (onClosed_) onClosed_(id);
}

Network::Connection* Network::Find(ConnectionId id) {
  auto found = connections_.find(id);
  return found == connections_.end() ? nullptr : &found->second;
}

const Network::Connection* Network::Find(ConnectionId id) const {
  auto found = connections_.find(id);
  return found == connections_.end() ? nullptr : &found->second;
}

}  // namespace kelpie
