// kelpie-bench: times a whole comparison and synchronisation between this
// process (the initiator) and a kelpie-peer process over loopback.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../corpus/pairs.h"
#include "clients.h"
#include "initiator.h"
#include "interrupted.h"
#include "options.h"
#include "report.h"
#include "run_child.h"
#include "scenarios.h"

namespace {

using namespace kelpie::bench;

bool MakePair(const std::string& scenario, int64_t size, const RunSetup& setup) {
  PairRequest request{.size = size,
                      .localPath = setup.localPath,
                      .peerPath = setup.peerPath,
                      .tree = "/usr/include"};
  return FindPair(scenario)->write(request);
}

// Runs one scenario (or the given pair) with every initiator asked for.
// False when its files cannot be made.
bool RunScenario(const Options& o, const std::string& scenario, const std::string& work,
                 bool& allMatched) {
  int64_t size = o.size > 0 ? o.size : DefaultSize(scenario);
  if (scenario == "clients") {
    allMatched = RunClients(o, size, work) && allMatched;
    return true;
  }
  RunSetup setup{.localPath = o.local,
                 .peerPath = o.peer,
                 .savePath = work + "/saved.bin",
                 .peerProgram = KELPIE_PEER_PROGRAM,
                 .workDir = work,
                 .timeoutSeconds = o.timeout,
                 .netVersion = o.netVersion,
                 .keyFile = o.keyFile,
                 .rttMs = o.rttMs,
                 .proxyProgram = KELPIE_DELAY_PROXY_PROGRAM};
  if (scenario != "files") {
    setup.localPath = work + "/local.bin";
    setup.peerPath = work + "/peer.bin";
    if (!MakePair(scenario, size, setup)) return false;
  }
  for (const std::string& initiator : o.initiators) {
    if (StopRequested()) break;
    setup.serverInitiates = initiator == "server";
    RunLabel label{.scenario = scenario,
                   .initiator = initiator,
                   .localBytes = FileSize(setup.localPath),
                   .peerBytes = FileSize(setup.peerPath),
                   .netVersion = o.netVersion,
                   .rttMs = o.rttMs,
                   .secure = !o.keyFile.empty(),
                   .peerDiskBytes = DiskBytes(setup.peerPath),
                   .run = ""};
    bool matched = o.interrupt ? RunInterrupted(setup, label) : RunInChild(setup, label);
    allMatched = matched && allMatched;
    std::filesystem::remove(setup.savePath);
  }
  if (scenario != "files") {
    std::filesystem::remove(setup.localPath);
    std::filesystem::remove(setup.peerPath);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
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
  for (size_t i = 0; i < scenarios.size() && !StopRequested() && status == 0; ++i) {
    if (!RunScenario(o, scenarios[i], work, allMatched)) {
      std::fprintf(stderr, "kelpie-bench: cannot make scenario %s\n", scenarios[i].c_str());
      status = 2;
    }
  }
  std::filesystem::remove_all(work);
  if (status == 0 && (!allMatched || StopRequested())) status = 1;
  return status;
}
