#include "raw_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kelpie::bench {

RawLink::RawLink(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
  int on = 1;
  if (fd_ >= 0) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

RawLink::~RawLink() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawLink::Send(std::span<const uint8_t> payload) {
  std::vector<uint8_t> frame = {static_cast<uint8_t>(payload.size()),
                                static_cast<uint8_t>(payload.size() >> 8)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(0);
  size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::vector<uint8_t>> RawLink::TakeFrame() {
  if (held_.size() < 3) return std::nullopt;
  const size_t length = held_[0] | static_cast<size_t>(held_[1]) << 8;
  if (held_.size() < length + 3) return std::nullopt;
  std::vector<uint8_t> payload(held_.begin() + 2, held_.begin() + 2 + static_cast<long>(length));
  held_.erase(held_.begin(), held_.begin() + 3 + static_cast<long>(length));
  return payload;
}

std::optional<std::vector<uint8_t>> RawLink::Receive(Clock::time_point deadline) {
  while (true) {
    if (auto frame = TakeFrame()) return frame;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0 || fd_ < 0) return std::nullopt;
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left) + 1) <= 0) continue;
    uint8_t buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    held_.insert(held_.end(), buffer, buffer + n);
  }
}

}  // namespace kelpie::bench
