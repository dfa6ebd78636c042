#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelpie::test {

// Lets a child process tell its parent what it saw, as tagged texts.
class ReportChannel {
 public:
  explicit ReportChannel(int fd) : fd_(fd) {}
  void Send(std::string_view tag, std::string_view text) const;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// How a child ended and what it reported, in order.
struct ChildOutcome {
  bool exited = false;  // ended through exit or _exit
  int exitCode = -1;
  int signal = 0;  // the signal that ended it, if any
  bool timedOut = false;
  std::vector<std::pair<std::string, std::string>> reports;

  std::vector<std::string> Reports(std::string_view tag) const;
  bool Has(std::string_view tag) const { return !Reports(tag).empty(); }
};

// Runs body in a forked child whose exit code is body's result. The child
// arms alarm(); the parent kills it if it is still running at the deadline,
// so a hung child never hangs the test.
ChildOutcome RunInChild(const std::function<int(const ReportChannel&)>& body,
                        int timeoutSeconds = 30);

// Runs a program and returns its standard output as one "stdout" report.
ChildOutcome RunProgram(const std::string& path, int timeoutSeconds = 30);

}  // namespace kelpie::test
