#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>

#include <list>
#include <optional>
#include <vector>

#include "common/unique_fd.h"
#include "delayed_pipe.h"

namespace kelpie::bench {

// Forwards every connection accepted on a listener to one target, delaying
// each direction by the same amount.
class DelayProxy {
 public:
  DelayProxy(UniqueFd listener, in_addr target, int targetPort, Clock::duration oneWay);

  // Serves until `stop` is set. Waits with `waitMask` as the signal mask, so
  // a signal blocked elsewhere can only arrive during the wait and is never
  // missed between the check and the wait.
  void Run(const volatile sig_atomic_t& stop, const sigset_t& waitMask);

 private:
  // Accepted side `a`, target side `b`.
  struct Connection {
    Connection(UniqueFd a, UniqueFd b, Clock::duration delay);
    UniqueFd a, b;
    DelayedPipe toTarget, fromTarget;
    bool failed = false;
  };
  static constexpr size_t kMaxConnections = 64;

  void WriteDue(Clock::time_point now);
  std::vector<pollfd> PollSet(Clock::time_point now) const;
  std::optional<timespec> Timeout(Clock::time_point now) const;
  void Accept();
  void ReadReady(const std::vector<pollfd>& fds, Clock::time_point now);
  void DropFinished();

  UniqueFd listener_;
  in_addr target_;
  int targetPort_;
  Clock::duration oneWay_;
  std::list<Connection> connections_;  // stable addresses: pipes name their sockets
};

}  // namespace kelpie::bench
