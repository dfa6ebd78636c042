#include "support/test_peer.h"

#include "app/peer_session.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace kelpie::test {

TestPeer::TestPeer() {
  // Test programs speak the first version unless a test asks for the second.
  program.state.NetVersion = 1;
  program.host.SetLogSink([this](std::string_view line) { log.emplace_back(line); });
}

TestPeer::~TestPeer() {
  program.Cleanup();
}

bool TestPeer::Use(int control) {
  if (!window.Click(control)) return false;
  program.Pass();
  return true;
}

int TestPeer::Listen() {
  ListenOn(program, window, 0);
  return program.state.network.ServerPort();
}

bool TestPeer::ConnectTo(int port) {
  return kelpie::ConnectTo(program, window, "127.0.0.1", port).empty();
}

void TestPeer::Offer(const std::string& path) {
  OfferFile(program, window, path);
}

bool TestPeer::CompareRows(int serverRow, int clientRow) {
  window.SelectRow(kServerFiles, serverRow);
  window.SelectRow(kClientFiles, clientRow);
  program.Pass();
  program.Pass();
  return Use(kCompareButton);
}

bool TestPeer::PressJobButton(int row) {
  window.SelectRow(kJobList, row);
  program.Pass();
  return Use(kSyncButton);
}

bool TestPeer::Logged(const std::string& line) const {
  return CountLogged(line) > 0;
}

int TestPeer::CountLogged(const std::string& line) const {
  return static_cast<int>(std::count(log.begin(), log.end(), line));
}

bool RunUntil(const std::vector<TestPeer*>& peers, const std::function<bool()>& done,
              int maxPasses) {
  for (int pass = 0; pass < maxPasses; ++pass) {
    if (done()) return true;
    for (TestPeer* peer : peers)
      peer->program.Pass();
  }
  return done();
}

void RunPasses(const std::vector<TestPeer*>& peers, int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    for (TestPeer* peer : peers)
      peer->program.Pass();
  }
}

int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace kelpie::test

namespace kelpie::test {

RawClient::RawClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

RawClient::~RawClient() {
  Close();
}

void RawClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void RawClient::SendBytes(const std::vector<uint8_t>& bytes) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

void RawClient::SendFrame(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame = {static_cast<uint8_t>(payload.size()),
                                static_cast<uint8_t>(payload.size() >> 8)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(0);
  SendBytes(frame);
}

const std::vector<std::vector<uint8_t>>& RawClient::Frames() {
  uint8_t buffer[65536];
  while (fd_ >= 0) {
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) break;
    pending_.insert(pending_.end(), buffer, buffer + n);
  }
  while (pending_.size() >= 3) {
    size_t length = pending_[0] | (pending_[1] << 8);
    if (pending_.size() < length + 3) break;
    frames_.emplace_back(pending_.begin() + 2, pending_.begin() + 2 + static_cast<long>(length));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(length) + 3);
  }
  return frames_;
}

}  // namespace kelpie::test
