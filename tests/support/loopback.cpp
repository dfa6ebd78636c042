#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

namespace kelpie::test {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline() {
  return Clock::now() + std::chrono::milliseconds(kWaitMs);
}

sockaddr_in Loopback(int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

}  // namespace

bool WaitFor(int fd, short events) {
  pollfd waiting{fd, events, 0};
  int ready = 0;
  do {
    ready = ::poll(&waiting, 1, kWaitMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

bool WaitUntil(const Network& network, const std::function<bool()>& done) {
  auto deadline = Deadline();
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::vector<pollfd> fds;
    network.AppendPollFds(fds);
    ::poll(fds.data(), fds.size(), 10);
  }
  return true;
}

int ListenerFd(const Network& server) {
  std::vector<pollfd> fds;
  server.AppendPollFds(fds);
  return fds.empty() ? -1 : fds.front().fd;
}

UniqueFd ConnectRaw(int32_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(port);
  if (!fd.valid() ||
      ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return UniqueFd();
  }
  return fd;
}

RawListener::RawListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_.get(), 16) != 0 ||
      ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    fd_.Reset();
    return;
  }
  port_ = ntohs(address.sin_port);
}

UniqueFd RawListener::Accept() {
  if (!fd_.valid() || !WaitFor(fd_.get(), POLLIN)) return UniqueFd();
  return UniqueFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

RawPair ConnectedPair() {
  RawListener listener;
  RawPair pair;
  pair.first = ConnectRaw(listener.port());
  if (pair.first.valid()) pair.second = listener.Accept();
  return pair;
}

AdmittedClient ConnectRawClient(Network& server) {
  AdmittedClient client;
  int listener = ListenerFd(server);
  client.socket = ConnectRaw(server.ServerPort());
  if (!client.socket.valid() || listener < 0 || !WaitFor(listener, POLLIN)) return client;
  if (server.ServerPoll() == EventConnected) client.id = server.ServerEventConnection();
  return client;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

std::vector<uint8_t> ReadExactly(int fd, size_t count) {
  std::vector<uint8_t> bytes(count);
  size_t got = 0;
  while (got < count && WaitFor(fd, POLLIN)) {
    ssize_t n = ::recv(fd, bytes.data() + got, count - got, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

bool WaitPeerClosed(int fd) {
  uint8_t scratch[4096];
  auto deadline = Deadline();
  while (Clock::now() < deadline && WaitFor(fd, POLLIN)) {
    ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
  }
  return false;
}

}  // namespace kelpie::test
