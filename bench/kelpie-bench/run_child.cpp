#include "run_child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kelpie::bench {
namespace {

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

}  // namespace

// Without SA_RESTART the signals cut waitpid short.
void CatchStopSignals(bool on) {
  struct sigaction action {};
  action.sa_handler = on ? RequestStop : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
  return stopRequested != 0;
}

// A stop request kills the child outright; its kelpie-peer and proxy go with
// it.
bool RunInChild(const RunSetup& setup, const RunLabel& label) {
  std::fflush(stdout);
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    CatchStopSignals(false);
    RunResult result = RunComparison(setup, [&](const RunResult& r) {
      std::printf("%s\n", JsonLine(label, r).c_str());
      std::fflush(stdout);
    });
    ::_exit(result.match ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    if (stopRequested) ::kill(pid, SIGKILL);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kelpie::bench
