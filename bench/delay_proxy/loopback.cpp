#include "loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace kelpie::bench {
namespace {

// The proxy adds its delay on purpose and must add no other: no Nagle wait.
void Prepare(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

sockaddr_in Address(in_addr host, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr = host;
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

}  // namespace

std::optional<in_addr> LoopbackAddress(const std::string& host) {
  in_addr address{};
  if (host == "localhost") return LoopbackAddress("127.0.0.1");
  if (::inet_pton(AF_INET, host.c_str(), &address) != 1) return std::nullopt;
  if ((ntohl(address.s_addr) >> 24) != 127) return std::nullopt;
  return address;
}

UniqueFd ListenLoopback(int port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = Address(*LoopbackAddress("127.0.0.1"), port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 64) != 0) {
    return UniqueFd();
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
  return fd;
}

int LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

UniqueFd AcceptConnection(int listener) {
  UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  if (fd.valid()) Prepare(fd.get());
  return fd;
}

UniqueFd ConnectTo(in_addr host, int port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Address(host, port);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return UniqueFd();
  }
  Prepare(fd.get());
  return fd;
}

}  // namespace kelpie::bench
