#include "peer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

namespace kelpie::bench {

std::vector<std::string> KeyArgs(const std::string& keyFile) {
  if (keyFile.empty()) return {};
  return {"--key", keyFile};
}

PeerProcess::PeerProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& logPath)
    : logPath_(logPath) {
  // A log left by an earlier child could otherwise be read before the new
  // child truncates it, giving a stale port.
  ::unlink(logPath.c_str());
  pid_t parent = ::getpid();
  // Closed by the exec: until then the child's memory is the parent's copy,
  // which is no part of the peer's.
  int execed[2] = {-1, -1};
  bool waitForExec = ::pipe2(execed, O_CLOEXEC) == 0;
  pid_ = ::fork();
  if (pid_ != 0) {
    if (waitForExec) {
      ::close(execed[1]);
      char byte;
      while (::read(execed[0], &byte, 1) < 0 && errno == EINTR) {
      }
      ::close(execed[0]);
    }
    if (pid_ > 0) anon_ = std::make_unique<AnonPeak>(pid_);
    return;
  }
  // A bench killed before it could stop its children takes them with it,
  // at once: a peer deep in a comparison can take long to notice SIGTERM.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(log, STDOUT_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

PeerProcess::~PeerProcess() {
  Stop();
}

int PeerProcess::WaitForListeningPort(double timeoutSeconds) {
  const std::string marker = "Listening on port ";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream log(logPath_);
    for (std::string line; std::getline(log, line);) {
      if (line.rfind(marker, 0) == 0) return std::stoi(line.substr(marker.size()));
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}

int64_t PeerProcess::Stop() {
  if (pid_ <= 0) return 0;
  if (anon_) peakAnonKib_ = anon_->Stop();
  ::kill(pid_, SIGTERM);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid_, &status, 0, &usage);
  pid_ = -1;
  return usage.ru_maxrss;
}

}  // namespace kelpie::bench
