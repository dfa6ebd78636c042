#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/unique_fd.h"

namespace kelpie {

// Thin helpers over the BSD socket calls the endpoints need.

// A TCP/IPv4 stream socket, close-on-exec; non-blocking when asked.
UniqueFd NewStreamSocket(bool nonBlocking);
bool SetNonBlocking(int fd);
// Small request/response messages must not wait for Nagle's algorithm.
bool SetNoDelay(int fd);
// Lets the kernel notice a peer whose machine has gone (no answer to
// keep-alive probes, or sent bytes unacknowledged) within about a minute.
bool SetKeepAlive(int fd);
// The first IPv4 address of host (a dotted address or a name) at port.
std::optional<sockaddr_in> ResolveIPv4(std::string_view host, uint16_t port);
// Connects, waiting until the connect has completed or failed.
bool ConnectBlocking(int fd, const sockaddr_in& address);
// The local port a socket is bound to, 0 when unknown.
int32_t LocalPort(int fd);

}  // namespace kelpie
