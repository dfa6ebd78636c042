// kelpie-bench: times a whole comparison and synchronisation between this
// process (the initiator) and a kelpie-peer process over loopback.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "initiator.h"
#include "report.h"
#include "scenarios.h"

namespace {

using namespace kelpie::bench;

constexpr char kUsage[] =
    "Usage: kelpie-bench [OPTIONS] LOCAL PEER\n"
    "       kelpie-bench [OPTIONS]\n"
    "                    --scenario identical|edit|insert|delete|append|disjoint|all --size BYTES\n"
    "Options: [--initiator server|client|both] [--timeout SECONDS] [--netversion 1|2]\n"
    "         [--rtt-ms N]\n"
    "\n"
    "Starts kelpie-peer offering PEER, plays the initiator offering LOCAL in its own\n"
    "process, drives Connect, Compare, Syncronize and the save, checks the saved file\n"
    "against PEER and prints one JSON line per run. --netversion holds both sides to\n"
    "that protocol version (default 2); --rtt-ms N puts kelpie-delay-proxy between\n"
    "them, so every round trip costs N ms. Exit status 0 when every run matched, 1\n"
    "otherwise, 2 for bad arguments.\n";

struct Options {
  std::vector<std::string> initiators = {"client"};
  std::vector<std::string> scenarios;
  int64_t size = 0;
  std::string local, peer;
  double timeout = 3600;
  int netVersion = 2;
  int rttMs = 0;
};

bool Parse(int argc, char** argv, Options& o) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--initiator" && hasValue) {
      std::string v = argv[++i];
      if (v != "server" && v != "client" && v != "both") return false;
      o.initiators =
          v == "both" ? std::vector<std::string>{"client", "server"} : std::vector<std::string>{v};
    } else if (arg == "--scenario" && hasValue) {
      std::string v = argv[++i];
      o.scenarios = v == "all" ? ScenarioNames() : std::vector<std::string>{v};
    } else if (arg == "--size" && hasValue) {
      o.size = std::atoll(argv[++i]);
    } else if (arg == "--timeout" && hasValue) {
      o.timeout = std::atof(argv[++i]);
    } else if (arg == "--netversion" && hasValue) {
      o.netVersion = std::atoi(argv[++i]);
      if (o.netVersion != 1 && o.netVersion != 2) return false;
    } else if (arg == "--rtt-ms" && hasValue) {
      o.rttMs = std::atoi(argv[++i]);
      if (o.rttMs < 0) return false;
    } else if (!arg.starts_with("-")) {
      files.push_back(arg);
    } else {
      return false;
    }
  }
  if (!o.scenarios.empty()) return files.empty() && o.size > 0;
  if (files.size() != 2) return false;
  o.local = files[0];
  o.peer = files[1];
  return true;
}

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
  stopRequested = 1;
}

// While on, SIGINT and SIGTERM end the run under way and skip the rest, so
// the work folder is still removed. Without SA_RESTART they cut waitpid short.
void CatchStopSignals(bool on) {
  struct sigaction action {};
  action.sa_handler = on ? RequestStop : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Each run in its own child process, so its peak memory is its own. A stop
// request kills the child outright; its kelpie-peer and proxy go with it.
bool RunInChild(const RunSetup& setup, const RunLabel& label) {
  pid_t pid = ::fork();
  if (pid == 0) {
    CatchStopSignals(false);
    RunResult result = RunComparison(setup);
    std::printf("%s\n", JsonLine(label, result).c_str());
    std::fflush(stdout);
    ::_exit(result.match ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    if (stopRequested) ::kill(pid, SIGKILL);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs one scenario (or the given pair) with every initiator asked for.
// False when its files cannot be made.
bool RunScenario(const Options& o, const std::string& scenario, const std::string& work,
                 bool& allMatched) {
  RunSetup setup{.localPath = o.local,
                 .peerPath = o.peer,
                 .savePath = work + "/saved.bin",
                 .peerProgram = KELPIE_PEER_PROGRAM,
                 .workDir = work,
                 .timeoutSeconds = o.timeout,
                 .netVersion = o.netVersion,
                 .rttMs = o.rttMs,
                 .proxyProgram = KELPIE_DELAY_PROXY_PROGRAM};
  if (scenario != "files") {
    setup.localPath = work + "/local.bin";
    setup.peerPath = work + "/peer.bin";
    if (!WriteScenario(scenario, o.size, setup.localPath, setup.peerPath)) return false;
  }
  for (const std::string& initiator : o.initiators) {
    if (stopRequested) break;
    setup.serverInitiates = initiator == "server";
    RunLabel label{scenario,     initiator, FileSize(setup.localPath), FileSize(setup.peerPath),
                   o.netVersion, o.rttMs};
    allMatched = RunInChild(setup, label) && allMatched;
    std::filesystem::remove(setup.savePath);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string work =
      (std::filesystem::temp_directory_path() / ("kelpie-bench-" + std::to_string(::getpid())))
          .string();
  std::filesystem::create_directories(work);
  CatchStopSignals(true);
  bool allMatched = true;
  std::vector<std::string> scenarios =
      o.scenarios.empty() ? std::vector<std::string>{"files"} : o.scenarios;
  int status = 0;
  for (size_t i = 0; i < scenarios.size() && !stopRequested && status == 0; ++i) {
    if (!RunScenario(o, scenarios[i], work, allMatched)) {
      std::fprintf(stderr, "kelpie-bench: cannot make scenario %s\n", scenarios[i].c_str());
      status = 2;
    }
  }
  std::filesystem::remove_all(work);
  if (status == 0 && (!allMatched || stopRequested)) status = 1;
  return status;
}
