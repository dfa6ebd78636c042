#include "delayed_pipe.h"

#include <sys/socket.h>

#include <cerrno>

namespace kelpie::bench {
namespace {

bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace

bool DelayedPipe::Read(Clock::time_point now) {
  while (WantsRead()) {
    ssize_t n = ::recv(from_, buffer_.data(), buffer_.size(), 0);
    if (n < 0) return WouldBlock();
    std::vector<char> bytes(buffer_.begin(), buffer_.begin() + n);
    ended_ = n == 0;
    queued_ += bytes.size();
    queue_.push_back({now + delay_, std::move(bytes)});
  }
  return true;
}

bool DelayedPipe::Write(Clock::time_point now) {
  while (!queue_.empty() && queue_.front().due <= now) {
    Sent sent = WriteFront();
    if (sent != Sent::All) return sent == Sent::Blocked;
  }
  return true;
}

// Sends what the socket takes of the front chunk and drops the chunk once
// it is all out.
DelayedPipe::Sent DelayedPipe::WriteFront() {
  Chunk& chunk = queue_.front();
  if (chunk.bytes.empty()) {
    ::shutdown(to_, SHUT_WR);
  } else {
    ssize_t n =
        ::send(to_, chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
    if (n < 0) return WouldBlock() ? Sent::Blocked : Sent::Failed;
    chunk.sent += static_cast<size_t>(n);
    if (chunk.sent < chunk.bytes.size()) return Sent::Blocked;
  }
  queued_ -= chunk.bytes.size();
  queue_.pop_front();
  return Sent::All;
}
bool DelayedPipe::WantsWrite(Clock::time_point now) const {
  return !queue_.empty() && queue_.front().due <= now;
}

std::optional<Clock::time_point> DelayedPipe::NextDue(Clock::time_point now) const {
  if (queue_.empty() || queue_.front().due <= now) return std::nullopt;
  return queue_.front().due;
}

}  // namespace kelpie::bench
