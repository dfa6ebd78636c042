#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>

#include "common/unique_fd.h"

namespace kelpie::bench {

// The IPv4 address of a loopback host name ("localhost" or 127.x.x.x);
// nothing for any other host, so the proxy never reaches off the machine.
std::optional<in_addr> LoopbackAddress(const std::string& host);

// A non-blocking listener on 127.0.0.1:port (0 picks a free port).
UniqueFd ListenLoopback(int port);
int LocalPort(int fd);

// The next waiting connection, non-blocking; invalid when none.
UniqueFd AcceptConnection(int listener);
// Connects (blocking: loopback answers at once), then makes the socket
// non-blocking; invalid on failure.
UniqueFd ConnectTo(in_addr address, int port);

}  // namespace kelpie::bench
