#include "initiator.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "anon_peak.h"
#include "app/headless_window.h"
#include "app/peer_session.h"
#include "app/program.h"
#include "app/secure_mode.h"
#include "delay_route.h"
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

// The processes a run starts besides itself.
struct Children {
  std::unique_ptr<PeerProcess> peer;
  std::unique_ptr<PeerProcess> proxy;
};

void StartPeer(const RunSetup& setup, const std::string& role, const std::string& where,
               Children& children) {
  std::vector<std::string> args = KeyArgs(setup.keyFile);
  args.insert(args.end(),
              {role, where, "--netversion", std::to_string(setup.netVersion), setup.peerPath});
  children.peer =
      std::make_unique<PeerProcess>(setup.peerProgram, args, setup.workDir + "/peer.log");
}

// True once a synchronising job has rebuilt half the peer's file.
bool HalfRebuilt(const Program& program) {
  for (const CompareJob& job : program.state.tables.CompareJobs) {
    bool synchronising = job.state == kSynchronising || job.state == kAwaitingData;
    if (synchronising && job.remoteFile &&
        2 * static_cast<int64_t>(job.position) >= static_cast<int64_t>(job.remoteFile->size)) {
      return true;
    }
  }
  return false;
}

// The initiator listens; the peer connects, through the proxy when there is one.
std::string ConnectAsServer(Initiator& me, const RunSetup& setup, Children& children) {
  std::string error = ListenOn(me.program_, me.window_, 0);
  if (!error.empty()) return error;
  int port = DelayedPort(setup, me.program_.state.network.ServerPort(), children.proxy);
  if (port == 0) return "kelpie-delay-proxy did not start";
  StartPeer(setup, "--connect", "127.0.0.1:" + std::to_string(port), children);
  return "";
}

// The peer listens; the initiator connects, through the proxy when there is one.
std::string ConnectAsClient(Initiator& me, const RunSetup& setup, Children& children) {
  int port = setup.peerPort;
  if (port == 0) {
    StartPeer(setup, "--listen", "0", children);
    port = children.peer->WaitForListeningPort(setup.timeoutSeconds);
    if (port == 0) return "kelpie-peer did not start";
    port = DelayedPort(setup, port, children.proxy);
    if (port == 0) return "kelpie-delay-proxy did not start";
  }
  return ConnectTo(me.program_, me.window_, "127.0.0.1", port);
}

std::string Connect(Initiator& me, const RunSetup& setup, Children& children) {
  me.program_.state.NetVersion = setup.netVersion;
  if (!setup.keyFile.empty()) {
    if (std::string error = UseKeyFile(me.program_, setup.keyFile); !error.empty()) return error;
  }
  return setup.serverInitiates ? ConnectAsServer(me, setup, children)
                               : ConnectAsClient(me, setup, children);
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
  const Network& network = me.program_.state.network;
  int64_t receivedBefore = network.BytesReceived();
  start = Clock::now();
  bool done = me.Use(kSyncButton, [&] {
    result.killed = setup.killHalfway && !me.saved_ && HalfRebuilt(me.program_);
    return me.saved_ || result.killed;
  });
  result.syncSeconds = SecondsSince(start);
  result.syncReceived = network.BytesReceived() - receivedBefore;
  return done ? "" : "synchronisation did not finish";
}

// Peak memory of both sides: the peer's from its exit when this run started
// it, else what the kernel and the sampler saw of it so far.
void TakePeaks(AnonPeak& self, Children& children, AnonPeak* attachedPeer, pid_t peerPid,
               RunResult& result) {
  if (children.peer) {
    result.peerPeakKb = children.peer->Stop();
    result.peerPeakAnonKb = children.peer->PeakAnonKib();
  } else if (attachedPeer) {
    result.peerPeakKb = StatusKib(peerPid, "VmHWM");
    result.peerPeakAnonKb = attachedPeer->Stop();
  }
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  result.initiatorPeakKb = usage.ru_maxrss;
  result.initiatorPeakAnonKb = self.Stop();
}

}  // namespace

RunResult RunComparison(const RunSetup& setup, const RunReport& report) {
  RunResult result;
  AnonPeak self(::getpid());
  std::unique_ptr<AnonPeak> attachedPeer;
  if (setup.peerPort > 0) attachedPeer = std::make_unique<AnonPeak>(setup.peerPid);
  Children children;
  {
    Initiator me(setup.timeoutSeconds);
    result.error = Connect(me, setup, children);
    if (result.error.empty()) result.error = CompareAndSynchronise(me, setup, result);
    result.checks = me.program_.host.requests().checks;
    result.gets = me.program_.host.requests().gets;
    result.wireSent = me.program_.state.network.BytesSent();
    result.wireReceived = me.program_.state.network.BytesReceived();
    if (result.killed) {
      // Gone before the program closes anything, as after a real kill.
      TakePeaks(self, children, attachedPeer.get(), setup.peerPid, result);
      report(result);
      ::kill(::getpid(), SIGKILL);
    }
  }
  TakePeaks(self, children, attachedPeer.get(), setup.peerPid, result);
  result.match = result.error.empty() && SameContent(setup.savePath, setup.peerPath);
  result.savedDiskBytes = DiskBytes(setup.savePath);
  report(result);
  return result;
}

}  // namespace kelpie::bench
