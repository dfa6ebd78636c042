#include "initiator.h"

#include <sys/resource.h>

#include <chrono>
#include <functional>

#include "app/headless_window.h"
#include "app/peer_session.h"
#include "app/program.h"
#include "peer_process.h"
#include "scenarios.h"

namespace kelpie::bench {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The initiator: a headless program driven through its controls.
class Initiator {
 public:
  explicit Initiator(double timeoutSeconds)
      : deadline_(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(timeoutSeconds))) {
    program_.host.SetLogSink([this](std::string_view line) {
      if (line == "Comparison finished!") compared_ = true;
      if (line == "Syncronison complete!") saved_ = true;
    });
  }
  ~Initiator() { program_.Cleanup(); }

  // Clicks a control and runs passes until done() holds; false on timeout.
  bool Use(int control, const std::function<bool()>& done) {
    if (control >= 0 && !window_.Click(control)) return false;
    do {
      program_.Pass();
    } while (!done() && Clock::now() < deadline_);
    return done();
  }
  bool Select(int list, int row) {
    window_.SelectRow(list, row);
    return Use(-1, [] { return true; });
  }

  HeadlessWindow window_;
  Program program_{window_, window_};
  bool compared_ = false;
  bool saved_ = false;

 private:
  Clock::time_point deadline_;
};

std::string Connect(Initiator& me, const RunSetup& setup, std::unique_ptr<PeerProcess>& peer) {
  std::string log = setup.workDir + "/peer.log";
  if (setup.serverInitiates) {
    std::string error = ListenOn(me.program_, me.window_, 0);
    if (!error.empty()) return error;
    std::string target = "127.0.0.1:" + std::to_string(me.program_.state.network.ServerPort());
    peer = std::make_unique<PeerProcess>(
        setup.peerProgram, std::vector<std::string>{"--connect", target, setup.peerPath}, log);
    return "";
  }
  peer = std::make_unique<PeerProcess>(
      setup.peerProgram, std::vector<std::string>{"--listen", "0", setup.peerPath}, log);
  int port = peer->WaitForListeningPort(60);
  if (port == 0) return "kelpie-peer did not start";
  return ConnectTo(me.program_, me.window_, "127.0.0.1", port);
}

std::string CompareAndSynchronise(Initiator& me, const RunSetup& setup, RunResult& result) {
  int peerList = setup.serverInitiates ? kClientFiles : kServerFiles;
  std::string error = OfferFile(me.program_, me.window_, setup.localPath);
  if (!error.empty()) return error;
  if (!me.Use(-1, [&] { return me.window_.RowCount(peerList) == 1; })) {
    return "the peer's file never arrived";
  }
  me.Select(kServerFiles, 0);
  me.Select(kClientFiles, 0);
  Clock::time_point start = Clock::now();
  if (!me.Use(kCompareButton, [&] { return me.compared_; })) return "comparison did not finish";
  result.compareSeconds = SecondsSince(start);

  me.Select(kJobList, 0);
  me.window_.QueueSaveFileAnswer(setup.savePath);
  start = Clock::now();
  if (!me.Use(kSyncButton, [&] { return me.saved_; })) return "synchronisation did not finish";
  result.syncSeconds = SecondsSince(start);
  return "";
}

}  // namespace

RunResult RunComparison(const RunSetup& setup) {
  RunResult result;
  std::unique_ptr<PeerProcess> peer;
  {
    Initiator me(setup.timeoutSeconds);
    result.error = Connect(me, setup, peer);
    if (result.error.empty()) result.error = CompareAndSynchronise(me, setup, result);
    result.checks = me.program_.host.requests().checks;
    result.gets = me.program_.host.requests().gets;
    result.wireSent = me.program_.state.network.BytesSent();
    result.wireReceived = me.program_.state.network.BytesReceived();
  }
  if (peer) result.peerPeakKb = peer->Stop();
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  result.initiatorPeakKb = usage.ru_maxrss;
  result.match = result.error.empty() && SameContent(setup.savePath, setup.peerPath);
  return result;
}

}  // namespace kelpie::bench
