// kelpie-bench: times a whole comparison and synchronisation between this
// process (the initiator) and a kelpie-peer process over loopback.
#include <sys/wait.h>
#include <unistd.h>

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
    "Usage: kelpie-bench [--initiator server|client|both] [--timeout SECONDS] LOCAL PEER\n"
    "       kelpie-bench [--initiator server|client|both] [--timeout SECONDS]\n"
    "                    --scenario identical|edit|insert|delete|append|disjoint|all --size BYTES\n"
    "\n"
    "Starts kelpie-peer offering PEER, plays the initiator offering LOCAL in its own\n"
    "process, drives Connect, Compare, Syncronize and the save, checks the saved file\n"
    "against PEER and prints one JSON line per run. Exit status 0 when every run\n"
    "matched, 1 otherwise, 2 for bad arguments.\n";

struct Options {
  std::vector<std::string> initiators = {"client"};
  std::vector<std::string> scenarios;
  int64_t size = 0;
  std::string local, peer;
  double timeout = 3600;
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

// Each run in its own child process, so its peak memory is its own.
bool RunInChild(const RunSetup& setup, const RunLabel& label) {
  pid_t pid = ::fork();
  if (pid == 0) {
    RunResult result = RunComparison(setup);
    std::printf("%s\n", JsonLine(label, result).c_str());
    std::fflush(stdout);
    ::_exit(result.match ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
  bool allMatched = true;
  std::vector<std::string> scenarios =
      o.scenarios.empty() ? std::vector<std::string>{"files"} : o.scenarios;
  for (const std::string& scenario : scenarios) {
    RunSetup setup{false, o.local,  o.peer, work + "/saved.bin", KELPIE_PEER_PROGRAM,
                   work,  o.timeout};
    if (scenario != "files") {
      setup.localPath = work + "/local.bin";
      setup.peerPath = work + "/peer.bin";
      if (!WriteScenario(scenario, o.size, setup.localPath, setup.peerPath)) {
        std::fprintf(stderr, "kelpie-bench: cannot make scenario %s\n", scenario.c_str());
        return 2;
      }
    }
    for (const std::string& initiator : o.initiators) {
      setup.serverInitiates = initiator == "server";
      RunLabel label{scenario, initiator, FileSize(setup.localPath), FileSize(setup.peerPath)};
      allMatched = RunInChild(setup, label) && allMatched;
      std::filesystem::remove(setup.savePath);
    }
  }
  std::filesystem::remove_all(work);
  return allMatched ? 0 : 1;
}
