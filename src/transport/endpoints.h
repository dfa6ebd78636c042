#pragma once

#include <poll.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.h"
#include "transport/preshared_key.h"

namespace kelpie {

using ConnectionId = int32_t;

class TlsContext;
class TlsStream;

inline constexpr int32_t kMaxClients = 254;
inline constexpr int32_t kListenBacklog = 100;
// Unsent output a connection may hold before it is given up as gone.
inline constexpr size_t kMaxPendingOutput = 64u << 20;
// How long a secure connection may take to finish its handshake.
inline constexpr std::chrono::milliseconds kHandshakeLimit{10000};

enum ServerEventCode : int32_t {
  EventNone = 0,
  EventConnected = 1,
  EventData = 2,
  EventDisconnected = 4,
  // Secure mode only: a connection failed its handshake and is closed again,
  // its slot free; TakeRefusal says why.
  EventRefused = 8,
};

// TCP/IPv4 endpoints of one program: one listening endpoint with a table of
// client slots, and outgoing connections. Connection ids are positive and
// never reused within one Network, so a stale id never names a new peer.
// Every connection is non-blocking once established; bytes a socket does not
// take at once are kept and sent, in order, before anything later on that
// connection.
//
// In secure mode (UseKey) every connection, made or accepted, speaks TLS 1.3
// from its first byte. An accepted connection holds its slot from the accept
// on but is reported as connected only once its handshake has finished.
// Everything above sees the same plaintext frames as without a key.
class Network {
 public:
  Network();
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  int32_t NetStartup();
  void NetShutdown();

  // Listener on 0.0.0.0 at the low 16 bits of port; non-zero on success.
  int32_t ServerOpen(int32_t port);
  void ServerClose();
  int32_t ServerPoll();
  ConnectionId ServerEventConnection() const;
  // The port actually bound (useful after ServerOpen(0)); 0 when not listening.
  int32_t ServerPort() const;
  int32_t ClientCount() const;

  // Resolves host (first IPv4 address) and connects, blocking; 0 on failure.
  ConnectionId ClientConnect(std::string_view host, int32_t port);
  void ConnectionClose(ConnectionId id);
  // 2 when bytes are pending, else 0. Never reports a closed connection.
  int32_t ConnectionPoll(ConnectionId id);
  // One receive of at most room bytes; -1 on error.
  int32_t ConnectionReceive(ConnectionId id, uint8_t* buffer, int32_t room);
  // Queues and sends all bytes; never raises SIGPIPE. Returns the bytes
  // accepted (all of them, or -1 when the connection is unknown or gone).
  int32_t ConnectionSend(ConnectionId id, std::span<const uint8_t> bytes);
  // True while id names a connection whose socket is still open.
  bool IsOpen(ConnectionId id) const;
  // When bytes last arrived on id (or it was opened), and when bytes were
  // last handed to it; the epoch for an unknown id.
  std::chrono::steady_clock::time_point LastReceived(ConnectionId id) const;
  std::chrono::steady_clock::time_point LastSent(ConnectionId id) const;
  // True once nothing more can arrive on id: its peer closed its end (seen
  // by a poll or receive), the socket was given up, or id names nothing.
  bool PeerClosed(ConnectionId id) const;

  // Secure mode from now on, with key; false when TLS cannot be set up or
  // connections are already open.
  bool UseKey(const PresharedKey& key);
  bool Secure() const { return tls_ != nullptr; }
  // A handshake not finished within limit drops its connection.
  void SetHandshakeLimit(std::chrono::milliseconds limit) { handshakeLimit_ = limit; }
  // Why the handshake of connection id failed, once; "" when it did not.
  std::string TakeRefusal(ConnectionId id);

  // Pushes out output the sockets did not take earlier and moves secure
  // handshakes on. Called once per main-loop pass.
  void FlushPending();
  bool HasPendingOutput(ConnectionId id) const;

  // Bytes handed to and taken from the sockets of this program so far
  // (frame bytes, or in secure mode their TLS records; TCP/IP headers not
  // counted).
  int64_t BytesSent() const { return bytesSent_; }
  int64_t BytesReceived() const { return bytesReceived_; }

  // Descriptors worth waiting on: the listener (first), every open connection whose
  // peer has not closed (POLLIN) and those with unsent output (POLLOUT).
  void AppendPollFds(std::vector<pollfd>& fds) const;

  // Called with the id of every connection this layer closes, for whatever
  // reason, so per-connection state elsewhere can be dropped.
  void SetClosedHandler(std::function<void(ConnectionId)> handler);

 private:
  struct Connection {
    UniqueFd fd;
    std::vector<uint8_t> pending;  // output not yet taken by the socket
    size_t pendingSent = 0;        // bytes of pending already sent
    bool peerClosed = false;       // end of stream seen while polling
    bool gone = false;             // socket given up; the id waits for its owner to drop it
    // Secure mode: the session, and what waits for its handshake to finish.
    std::unique_ptr<TlsStream> tls;
    std::vector<uint8_t> held;  // plaintext handed over during the handshake
    std::chrono::steady_clock::time_point handshakeDeadline;
    bool reported = true;  // false until an accepted connection is reported connected
    std::chrono::steady_clock::time_point receivedAt;  // last bytes in, or the opening
    std::chrono::steady_clock::time_point sentAt;      // last bytes handed over
  };

  ConnectionId Register(UniqueFd fd);
  ConnectionId AcceptWaiting();
  int32_t PollSlot(size_t slot);
  void CloseConnection(ConnectionId id);
  void GiveUp(ConnectionId id, Connection& connection);
  bool Flush(Connection& connection);
  bool Queue(Connection& connection, std::span<const uint8_t> bytes);
  void NotifyClosed(ConnectionId id);
  Connection* Find(ConnectionId id);
  const Connection* Find(ConnectionId id) const;

  // Secure mode (endpoints_secure.cpp).
  bool StartTls(Connection& connection, bool accepting);
  std::string AdvanceHandshake(Connection& connection);
  void Refuse(ConnectionId id, Connection& connection, std::string reason);
  int32_t PollHandshake(ConnectionId id, Connection& connection);
  bool SendSecure(Connection& connection, std::span<const uint8_t> bytes);
  bool SendTlsOutput(Connection& connection);
  int32_t ReceiveSecure(Connection& connection, uint8_t* buffer, int32_t room);

  std::unique_ptr<TlsContext> tls_;  // outlives every connection's session
  std::chrono::milliseconds handshakeLimit_ = kHandshakeLimit;
  std::map<ConnectionId, std::string> refusals_;
  UniqueFd listener_;
  std::array<ConnectionId, kMaxClients> slots_{};  // 0 marks a free slot
  int32_t clientCount_ = 0;
  ConnectionId eventConnection_ = 0;
  ConnectionId nextId_ = 1;
  int64_t bytesSent_ = 0;
  int64_t bytesReceived_ = 0;
  std::map<ConnectionId, Connection> connections_;
  std::function<void(ConnectionId)> onClosed_;
};

}  // namespace kelpie
