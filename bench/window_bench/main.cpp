// kelpie-window-bench: times a comparison and synchronisation with the Qt
// window program as the initiator and kelpie-peer as the other side.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>

#include "options.h"
#include "scenarios.h"
#include "window_run.h"

namespace {

using namespace kelpie::bench;

std::string JsonLine(const WindowBenchOptions& o, const WindowRunSetup& setup,
                     const WindowRunResult& result) {
  char seconds[128];
  std::snprintf(seconds, sizeof seconds,
                "\"compare_seconds\":%.3f,\"sync_seconds\":%.3f,\"compare_cpu_seconds\":%.3f",
                result.compareSeconds, result.syncSeconds, result.compareCpuSeconds);
  std::string line = "{\"program\":\"window\",\"platform\":\"" +
                     QApplication::platformName().toStdString() + "\",\"scenario\":\"" +
                     (o.scenario.empty() ? "files" : o.scenario) + "\"";
  line += ",\"netversion\":" + std::to_string(o.netVersion);
  line += ",\"local_bytes\":" + std::to_string(FileSize(setup.localPath));
  line += ",\"peer_bytes\":" + std::to_string(FileSize(setup.peerPath));
  line += "," + std::string(seconds);
  line += ",\"match\":" + std::string(result.match ? "true" : "false");
  if (!result.error.empty()) line += ",\"error\":\"" + result.error + "\"";
  return line + "}";
}

}  // namespace

int main(int argc, char** argv) {
  WindowBenchOptions o;
  if (!ParseWindowBenchOptions(argc, argv, o)) {
    std::fputs(kWindowBenchUsage, stderr);
    return 2;
  }
  const std::filesystem::path work = std::filesystem::temp_directory_path() /
                                     ("kelpie-window-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(work);
  WindowRunSetup setup{
      o.local,      o.peer,   (work / "saved.bin").string(), KELPIE_PEER_PROGRAM, work.string(),
      o.netVersion, o.timeout};
  if (!o.scenario.empty()) {
    setup.localPath = (work / "local.bin").string();
    setup.peerPath = (work / "peer.bin").string();
    if (!WriteScenario(o.scenario, o.size, setup.localPath, setup.peerPath)) {
      std::fprintf(stderr, "kelpie-window-bench: cannot make scenario %s\n", o.scenario.c_str());
      std::filesystem::remove_all(work);
      return 2;
    }
  }
  // Qt takes no arguments of ours.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  const WindowRunResult result = RunWindowComparison(setup);
  std::printf("%s\n", JsonLine(o, setup, result).c_str());
  std::filesystem::remove_all(work);
  return result.match ? 0 : 1;
}
