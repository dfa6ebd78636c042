#include "options.h"

#include <cstdlib>

#include "../corpus/pairs.h"
#include "scenarios.h"
#include "transport/endpoints.h"

namespace kelpie::bench {

const char kUsage[] =
    "Usage: kelpie-bench [OPTIONS] LOCAL PEER\n"
    "       kelpie-bench [OPTIONS] --scenario NAME|all [--size BYTES]\n"
    "       kelpie-bench [OPTIONS] --scenario clients [--clients K] [--size BYTES]\n"
    "Options: [--initiator server|client|both] [--timeout SECONDS] [--netversion 1|2]\n"
    "         [--rtt-ms N] [--interrupt] [--key FILE]\n"
    "\n"
    "Starts kelpie-peer offering PEER, plays the initiator offering LOCAL in its own\n"
    "process, drives Connect, Compare, Syncronize and the save, checks the saved file\n"
    "against PEER and prints one JSON line per run. --scenario makes the pair first:\n"
    "identical, edit, insert, delete, append, disjoint (all: these six) or any pair of\n"
    "kelpie-corpus --list; sparse-edits defaults to 8 GiB. --scenario clients has one\n"
    "kelpie-peer offer a file (default 64 MiB) to K clients at once (default 254),\n"
    "each holding it with 1000 bytes inserted in the middle, and times them all.\n"
    "--interrupt kills each initiator (SIGKILL) halfway through the synchronisation\n"
    "and runs it again against the same peer (client initiator only). --netversion\n"
    "holds both sides to that protocol version (default 2); --rtt-ms N puts\n"
    "kelpie-delay-proxy between them, so every round trip costs N ms. --key FILE puts\n"
    "both sides in secure mode with that key (make one with kelpie-peer --new-key).\n"
    "Exit status 0 when every run matched, 1 otherwise, 2 for bad arguments.\n";

namespace {

bool KnownScenario(const std::string& name) {
  return name == "clients" || FindPair(name) != nullptr;
}

}  // namespace

int64_t DefaultSize(const std::string& scenario) {
  if (scenario == "sparse-edits") return int64_t{8} << 30;
  if (scenario == "clients") return int64_t{64} << 20;
  return 0;
}

bool ParseOptions(int argc, char** argv, Options& o) {
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
      if (o.size <= 0) return false;
    } else if (arg == "--timeout" && hasValue) {
      o.timeout = std::atof(argv[++i]);
    } else if (arg == "--netversion" && hasValue) {
      o.netVersion = std::atoi(argv[++i]);
      if (o.netVersion != 1 && o.netVersion != 2) return false;
    } else if (arg == "--rtt-ms" && hasValue) {
      o.rttMs = std::atoi(argv[++i]);
      if (o.rttMs < 0) return false;
    } else if (arg == "--clients" && hasValue) {
      o.clients = std::atoi(argv[++i]);
      if (o.clients < 1 || o.clients > kMaxClients) return false;
    } else if (arg == "--key" && hasValue) {
      o.keyFile = argv[++i];
      if (o.keyFile.empty()) return false;
    } else if (arg == "--interrupt") {
      o.interrupt = true;
    } else if (!arg.starts_with("-")) {
      files.push_back(arg);
    } else {
      return false;
    }
  }
  if (o.clients == 0) o.clients = kMaxClients;
  // The killed initiator's peer must outlive it, listening for the rerun.
  if (o.interrupt && o.initiators != std::vector<std::string>{"client"}) return false;
  if (!o.scenarios.empty()) {
    for (const std::string& name : o.scenarios) {
      if (!KnownScenario(name) || (o.size == 0 && DefaultSize(name) == 0)) return false;
      if (o.interrupt && name == "clients") return false;
    }
    return files.empty();
  }
  if (files.size() != 2) return false;
  o.local = files[0];
  o.peer = files[1];
  return true;
}

}  // namespace kelpie::bench
