#include "clients.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "client_crowd.h"
#include "delay_route.h"
#include "pass_stats.h"
#include "peer_process.h"
#include "report.h"
#include "run_child.h"
#include "scenarios.h"

namespace kelpie::bench {
namespace {

using Clock = std::chrono::steady_clock;

bool ReadByte(int fd, char& byte) {
  ssize_t n;
  while ((n = ::read(fd, &byte, 1)) < 0 && errno == EINTR && !StopRequested()) {
  }
  return n == 1;
}

void Tell(int fd, bool ok) {
  char byte = ok ? '1' : '0';
  while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
}

// Then, in text: its clients' longest main-loop pass in milliseconds, on the
// clock and of processor time, and each client's compare and sync seconds.
void TellTimes(int fd, const ClientCrowd& crowd) {
  using Ms = std::chrono::duration<double, std::milli>;
  const PassStats longest = crowd.LongestPass();
  std::string text = std::to_string(Ms(longest.longest).count()) + " " +
                     std::to_string(Ms(longest.longestWork).count());
  for (const ClientCrowd::Times& t : crowd.ClientTimes())
    text += " " + std::to_string(t.compareSeconds) + " " + std::to_string(t.syncSeconds);
  for (size_t sent = 0; sent < text.size();) {
    ssize_t n = ::write(fd, text.data() + sent, text.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

// Reads what TellTimes wrote, up to the end of the pipe.
void ReadTimes(int fd, ClientsResult& result) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  std::istringstream in(text);
  double longest = -1, longestCpu = -1, compare = -1, sync = -1;
  if (in >> longest >> longestCpu) {
    result.clientLongestPassMs = std::max(result.clientLongestPassMs, longest);
    result.clientLongestPassCpuMs = std::max(result.clientLongestPassCpuMs, longestCpu);
  }
  while (in >> compare >> sync) {
    result.compareSeconds.push_back(compare);
    result.syncSeconds.push_back(sync);
  }
}

// A client process writes one byte into its own reply pipe when its clients
// are ready to compare and one when they are through ('1' for success), so a
// process that dies reads as end of file. Closing the go pipe starts them all
// at once.
struct Crowds {
  std::vector<pid_t> pids;
  std::vector<int> replies;
  int go[2] = {-1, -1};
};

// The client process: never returns.
[[noreturn]] void RunCrowd(const Options& o, int port,
                           const std::vector<ClientCrowd::Client>& clients, int reply, int go) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  CatchStopSignals(false);
  auto timeout =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.timeout));
  ClientCrowd crowd(port, o.netVersion, o.keyFile, clients);
  std::string error = crowd.Prepare(Clock::now() + timeout);
  Tell(reply, error.empty());
  char byte;
  ReadByte(go, byte);  // end of file: go
  if (error.empty()) error = crowd.CompareAndSave(Clock::now() + timeout);
  Tell(reply, error.empty());
  TellTimes(reply, crowd);
  if (!error.empty()) std::fprintf(stderr, "kelpie-bench: clients: %s\n", error.c_str());
  ::_exit(error.empty() ? 0 : 1);
}

// Starts the client processes, one per core, the clients shared out among
// them.
bool StartCrowds(const Options& o, int port, const std::vector<ClientCrowd::Client>& clients,
                 Crowds& crowds) {
  if (::pipe2(crowds.go, O_CLOEXEC) != 0) return false;
  int processes = std::clamp<int>(std::thread::hardware_concurrency(), 1, o.clients);
  std::fflush(stdout);
  for (int p = 0; p < processes; ++p) {
    std::vector<ClientCrowd::Client> share(clients.begin() + p * o.clients / processes,
                                           clients.begin() + (p + 1) * o.clients / processes);
    int reply[2];
    if (::pipe2(reply, O_CLOEXEC) != 0) return false;
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(crowds.go[1]);
      RunCrowd(o, port, share, reply[1], crowds.go[0]);
    }
    // Only the client process may hold the write end, so its death ends the
    // pipe.
    ::close(reply[1]);
    if (pid < 0) {
      ::close(reply[0]);
      return false;
    }
    crowds.pids.push_back(pid);
    crowds.replies.push_back(reply[0]);
  }
  ::close(crowds.go[0]);
  crowds.go[0] = -1;
  return true;
}

// Waits for a byte from every client process; true when all said '1'.
bool Gather(const Crowds& crowds) {
  bool ok = true;
  for (int fd : crowds.replies) {
    char byte = '0';
    ok = ReadByte(fd, byte) && byte == '1' && ok;
  }
  return ok;
}

// Times the clients from the go to the last one's end.
void RunCrowds(Crowds& crowds, ClientsResult& result) {
  if (!Gather(crowds)) result.error = "not every client got ready";
  Clock::time_point start = Clock::now();
  ::close(crowds.go[1]);
  crowds.go[1] = -1;
  if (!Gather(crowds) && result.error.empty()) result.error = "not every client saved";
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (int fd : crowds.replies)
    ReadTimes(fd, result);
  if (StopRequested()) result.error = "stopped";
}

// Waits for the client processes to exit; with stop, or on a stop request,
// kills them first.
void EndCrowds(Crowds& crowds, bool stop) {
  for (pid_t pid : crowds.pids) {
    if (stop || StopRequested()) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      if (StopRequested()) ::kill(pid, SIGKILL);
    }
  }
  for (int fd : crowds.replies)
    ::close(fd);
  for (int fd : crowds.go) {
    if (fd >= 0) ::close(fd);
  }
}

// The server's file and the clients' copy: the insert pair the other way
// round, hard links giving each client a file of its own at no disk cost.
std::vector<ClientCrowd::Client> MakeFiles(int64_t size, int count, const std::string& work,
                                           const std::string& serverPath) {
  std::string localPath = work + "/local.bin";
  if (!WriteScenario("insert", size, serverPath, localPath)) return {};
  std::vector<ClientCrowd::Client> clients;
  for (int i = 0; i < count; ++i) {
    std::string name = work + "/client-" + std::to_string(i);
    if (::link(localPath.c_str(), (name + ".bin").c_str()) != 0) return {};
    clients.push_back({name + ".bin", name + "-saved.bin"});
  }
  std::filesystem::remove(localPath);
  return clients;
}

}  // namespace

bool RunClients(const Options& o, int64_t size, const std::string& work) {
  ClientsResult result;
  result.clients = o.clients;
  result.serverBytes = size;
  result.netVersion = o.netVersion;
  result.secure = !o.keyFile.empty();
  result.rttMs = o.rttMs;
  std::string serverPath = work + "/server.bin";
  std::vector<ClientCrowd::Client> clients = MakeFiles(size, o.clients, work, serverPath);
  if (clients.empty()) {
    std::fprintf(stderr, "kelpie-bench: cannot make the clients' files\n");
    return false;
  }
  result.localBytes = FileSize(clients[0].localPath);

  RunSetup route;  // what DelayedPort needs of it
  route.workDir = work;
  route.rttMs = o.rttMs;
  route.proxyProgram = KELPIE_DELAY_PROXY_PROGRAM;
  std::vector<std::string> args = KeyArgs(o.keyFile);
  args.insert(args.end(), {"--listen", "0", "--stats", "--netversion", std::to_string(o.netVersion),
                           serverPath});
  PeerProcess server(KELPIE_PEER_PROGRAM, args, work + "/server.log");
  std::unique_ptr<PeerProcess> proxy;
  int port = server.WaitForListeningPort(60);
  if (port != 0) port = DelayedPort(route, port, proxy);

  Crowds crowds;
  bool started = port != 0 && StartCrowds(o, port, clients, crowds);
  if (started) {
    result.processes = static_cast<int>(crowds.pids.size());
    RunCrowds(crowds, result);
  } else {
    result.error = "cannot start kelpie-peer, its proxy or the client processes";
  }
  EndCrowds(crowds, !started);
  result.serverPeakKb = server.Stop();
  result.serverPeakAnonKb = server.PeakAnonKib();
  const LongestPass longest = ReadLongestPass(work + "/server.log");
  result.serverLongestPassMs = longest.ms;
  result.serverLongestPassCpuMs = longest.cpuMs;
  for (const ClientCrowd::Client& client : clients) {
    result.matched += SameContent(client.savePath, serverPath);
    std::filesystem::remove(client.savePath);
    std::filesystem::remove(client.localPath);
  }
  std::filesystem::remove(serverPath);
  std::printf("%s\n", ClientsJsonLine(result).c_str());
  std::fflush(stdout);
  return result.error.empty() && result.matched == o.clients;
}

}  // namespace kelpie::bench
