#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "common/unique_fd.h"
#include "transport/endpoints.h"

namespace kelpie::test {

// Helpers for tests over real loopback sockets. Raw sockets here are blocking
// and never raise SIGPIPE. Every wait is bounded (kWaitMs) so a fault fails the
// test instead of hanging it; a healthy loopback answers far sooner.
inline constexpr int kWaitMs = 10000;

// Waits on fd for events (POLLIN, POLLOUT); false when the wait ran out.
bool WaitFor(int fd, short events);
// Steps the idle wait of network (its poll descriptors, 10 ms at a time) until
// done() holds; false when the wait ran out.
bool WaitUntil(const Network& network, const std::function<bool()>& done);
// The listening socket of a network that is serving (AppendPollFds lists it first).
int ListenerFd(const Network& server);

// A raw client connected to 127.0.0.1:port; invalid on failure.
UniqueFd ConnectRaw(int32_t port);

// A raw listener on 127.0.0.1 at a free port.
class RawListener {
 public:
  RawListener();
  int32_t port() const { return port_; }
  UniqueFd Accept();

 private:
  UniqueFd fd_;
  int32_t port_ = 0;
};

// Two raw sockets connected to each other over loopback.
struct RawPair {
  UniqueFd first;
  UniqueFd second;
};
RawPair ConnectedPair();

// A raw client of a Network listener, with the id the server gave it. Not
// named RawClient: test_peer.h has one, and two classes of one name in one
// program break the one-definition rule (one's destructor replaces the other's).
struct AdmittedClient {
  UniqueFd socket;
  ConnectionId id = 0;
};
// Connects a raw client and takes the server's EventConnected for it (one
// ServerPoll, once the listener is readable, so no other event is consumed).
// id is 0 when the server reported anything else.
AdmittedClient ConnectRawClient(Network& server);

// Writes every byte (blocking); false on error.
bool WriteAll(int fd, std::span<const uint8_t> bytes);
// Reads count bytes, waiting for each; fewer on end of stream or timeout.
std::vector<uint8_t> ReadExactly(int fd, size_t count);
// True when the peer of fd has closed (read gives end of stream) within the wait.
// Discards whatever data arrives first.
bool WaitPeerClosed(int fd);

}  // namespace kelpie::test
