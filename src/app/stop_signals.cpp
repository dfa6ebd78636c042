#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace kelpie {
namespace {

volatile sig_atomic_t signalled = 0;
int wakeRead = -1;
int wakeWrite = -1;

void OnStopSignal(int) {
  const int saved = errno;
  signalled = 1;
  const char byte = 1;
  // Full pipe: a byte is already waiting, which is all the wait needs.
  [[maybe_unused]] ssize_t ignored = ::write(wakeWrite, &byte, 1);
  errno = saved;
}

}  // namespace

void CatchStopSignals() {
  if (wakeRead < 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      wakeRead = fds[0];
      wakeWrite = fds[1];
    }
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep the window toolkit's own waits simple; the pipe
  // wakes them instead.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled() {
  return signalled != 0;
}

int StopSignalDescriptor() {
  return wakeRead;
}

}  // namespace kelpie
