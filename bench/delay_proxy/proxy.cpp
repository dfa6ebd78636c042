#include "proxy.h"

#include <algorithm>

#include "loopback.h"

namespace kelpie::bench {
namespace {

constexpr short kReadable = POLLIN | POLLHUP | POLLERR;

pollfd Entry(int fd, bool read, bool write) {
  short events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
  return {fd, events, 0};
}

}  // namespace

DelayProxy::Connection::Connection(UniqueFd a, UniqueFd b, Clock::duration delay)
    : a(std::move(a)),
      b(std::move(b)),
      toTarget(this->a.get(), this->b.get(), delay),
      fromTarget(this->b.get(), this->a.get(), delay) {}

DelayProxy::DelayProxy(UniqueFd listener, in_addr target, int targetPort, Clock::duration oneWay)
    : listener_(std::move(listener)), target_(target), targetPort_(targetPort), oneWay_(oneWay) {}

void DelayProxy::Run(const volatile sig_atomic_t& stop, const sigset_t& waitMask) {
  while (!stop) {
    WriteDue(Clock::now());
    DropFinished();
    Clock::time_point now = Clock::now();
    std::vector<pollfd> fds = PollSet(now);
    std::optional<timespec> timeout = Timeout(now);
    int ready = ::ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, &waitMask);
    if (ready <= 0) continue;
    ReadReady(fds, Clock::now());
    if (fds[0].revents & POLLIN) Accept();
  }
}

void DelayProxy::WriteDue(Clock::time_point now) {
  for (Connection& c : connections_) {
    if (!c.toTarget.Write(now) || !c.fromTarget.Write(now)) c.failed = true;
  }
}

// The listener first (ignored while the connection table is full), then
// both sockets of every connection, in connection order.
std::vector<pollfd> DelayProxy::PollSet(Clock::time_point now) const {
  std::vector<pollfd> fds;
  fds.push_back(Entry(connections_.size() < kMaxConnections ? listener_.get() : -1, true, false));
  for (const Connection& c : connections_) {
    fds.push_back(Entry(c.a.get(), c.toTarget.WantsRead(), c.fromTarget.WantsWrite(now)));
    fds.push_back(Entry(c.b.get(), c.fromTarget.WantsRead(), c.toTarget.WantsWrite(now)));
  }
  return fds;
}

// Until the earliest chunk falls due; none when nothing waits.
std::optional<timespec> DelayProxy::Timeout(Clock::time_point now) const {
  std::optional<Clock::time_point> due;
  for (const Connection& c : connections_) {
    for (const DelayedPipe* pipe : {&c.toTarget, &c.fromTarget}) {
      std::optional<Clock::time_point> next = pipe->NextDue(now);
      if (next && (!due || *next < *due)) due = next;
    }
  }
  if (!due) return std::nullopt;
  auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(*due - now).count();
  return timespec{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
}

// A connection the target refuses is closed at once: the client sees the
// refusal as a reset.
void DelayProxy::Accept() {
  for (UniqueFd a = AcceptConnection(listener_.get()); a.valid();
       a = AcceptConnection(listener_.get())) {
    UniqueFd b = ConnectTo(target_, targetPort_);
    if (b.valid()) connections_.emplace_back(std::move(a), std::move(b), oneWay_);
    if (connections_.size() >= kMaxConnections) return;
  }
}

// fds holds, after the listener, two entries per connection in list order.
void DelayProxy::ReadReady(const std::vector<pollfd>& fds, Clock::time_point now) {
  size_t i = 1;
  for (Connection& c : connections_) {
    if ((fds[i].revents & kReadable) && !c.toTarget.Read(now)) c.failed = true;
    if ((fds[i + 1].revents & kReadable) && !c.fromTarget.Read(now)) c.failed = true;
    i += 2;
  }
}

void DelayProxy::DropFinished() {
  std::erase_if(connections_, [](const Connection& c) {
    return c.failed || (c.toTarget.Done() && c.fromTarget.Done());
  });
}

}  // namespace kelpie::bench
