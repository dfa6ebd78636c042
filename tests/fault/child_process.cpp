#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kelpie::test {
namespace {

constexpr char kTagEnd = '\x1f';
constexpr char kRecordEnd = '\x1e';

using Clock = std::chrono::steady_clock;

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

// Reads until end of file or the deadline.
std::string Drain(int fd, Clock::time_point deadline) {
  std::string bytes;
  char buffer[4096];
  while (Clock::now() < deadline) {
    pollfd waiting = {fd, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (poll(&waiting, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
    const ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got <= 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

void Reap(pid_t pid, Clock::time_point deadline, ChildOutcome& outcome) {
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    outcome.timedOut = true;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  outcome.exited = WIFEXITED(status);
  outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

void ParseReports(const std::string& bytes, ChildOutcome& outcome) {
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find(kRecordEnd, start);
    if (end == std::string::npos) break;
    const std::string record = bytes.substr(start, end - start);
    const size_t split = record.find(kTagEnd);
    if (split != std::string::npos) {
      outcome.reports.emplace_back(record.substr(0, split), record.substr(split + 1));
    }
    start = end + 1;
  }
}

}  // namespace

void ReportChannel::Send(std::string_view tag, std::string_view text) const {
  std::string record(tag);
  record += kTagEnd;
  record += text;
  record += kRecordEnd;
  WriteAll(fd_, record);
}

std::vector<std::string> ChildOutcome::Reports(std::string_view tag) const {
  std::vector<std::string> texts;
  for (const auto& [key, text] : reports) {
    if (key == tag) texts.push_back(text);
  }
  return texts;
}

ChildOutcome RunInChild(const std::function<int(const ReportChannel&)>& body, int timeoutSeconds) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return outcome;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(static_cast<unsigned>(timeoutSeconds));
    _exit(body(ReportChannel(fds[1])));
  }
  close(fds[1]);
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds + 5);
  if (pid > 0) {
    ParseReports(Drain(fds[0], deadline), outcome);
    Reap(pid, deadline, outcome);
  }
  close(fds[0]);
  return outcome;
}

ChildOutcome RunProgram(const std::string& path, int timeoutSeconds) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return outcome;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    alarm(static_cast<unsigned>(timeoutSeconds));
    execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds + 5);
  if (pid > 0) {
    outcome.reports.emplace_back("stdout", Drain(fds[0], deadline));
    Reap(pid, deadline, outcome);
  }
  close(fds[0]);
  return outcome;
}

}  // namespace kelpie::test
