#include "window_run.h"

#include <sys/resource.h>

#include <chrono>
#include <memory>

#include "app/program.h"
#include "app/qt/qt_window.h"
#include "app/qt/window_program.h"
#include "peer_process.h"
#include "scenarios.h"
#include "window_script.h"
#include "window_user.h"

namespace kelpie::bench {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The session, step by step; the timed steps end on the log line that says
// the job is done.
class Session {
 public:
  Session(const WindowRunSetup& setup, int port, WindowRunResult& result)
      : setup_(setup), port_(port), result_(result) {}

  void Start(QtWindow& window, Program& program) {
    program.host.SetLogSink([this](std::string_view line) { OnLog(line); });
    script_ = std::make_unique<WindowScript>(Steps(window, program), setup_.timeoutSeconds,
                                             [this, &window](const std::string& stuckAt) {
                                               stuckAt_ = stuckAt;
                                               window.Widget()->close();
                                             });
    script_->Start();
  }
  const std::string& StuckAt() const { return stuckAt_; }

 private:
  std::vector<WindowScript::Step> Steps(QtWindow& window, Program& program);
  void OnLog(std::string_view line) {
    if (line == "Comparison finished!" && !compared_) {
      compared_ = true;
      result_.compareSeconds = SecondsSince(start_);
      result_.compareCpuSeconds = CpuSeconds() - startCpu_;
    }
    if (line == "Syncronison complete!" && !saved_) {
      saved_ = true;
      result_.syncSeconds = SecondsSince(start_);
    }
  }

  const WindowRunSetup& setup_;
  int port_;
  WindowRunResult& result_;
  std::unique_ptr<WindowScript> script_;
  std::string stuckAt_;
  Clock::time_point start_;
  double startCpu_ = 0;
  bool compared_ = false;
  bool saved_ = false;
};

std::vector<WindowScript::Step> Session::Steps(QtWindow& window, Program& program) {
  auto user = std::make_shared<User>(window);
  auto always = [] { return true; };
  return {
      {"connect", always,
       [this, user, &program] {
         if (setup_.netVersion != 0) program.state.NetVersion = setup_.netVersion;
         user->Type(kHostField, "127.0.0.1");
         user->Type(kPortField, std::to_string(port_));
         user->Click(kConnectButton);
       }},
      {"the peer's file list", [&window] { return window.RowCount(kServerFiles) == 1; },
       [this, user] {
         user->AnswerFileDialogsWith(setup_.localPath);
         user->Click(kAddFileButton);
       }},
      {"add file", [&window] { return window.RowCount(kClientFiles) == 1; },
       [user] {
         user->SelectFirstRow(kServerFiles);
         user->SelectFirstRow(kClientFiles);
       }},
      {"enabling Compare", [&window] { return window.IsControlEnabled(kCompareButton); },
       [this, user] {
         start_ = Clock::now();
         startCpu_ = CpuSeconds();
         user->Click(kCompareButton);
       }},
      {"comparison", [this] { return compared_; }, [user] { user->SelectFirstRow(kJobList); }},
      {"enabling Syncronize", [&window] { return window.IsControlEnabled(kSyncButton); },
       [this, user] {
         user->AnswerFileDialogsWith(setup_.savePath);
         start_ = Clock::now();
         user->Click(kSyncButton);
       }},
      {"synchronisation", [this] { return saved_; }, [] {}},
  };
}

}  // namespace

WindowRunResult RunWindowComparison(const WindowRunSetup& setup) {
  WindowRunResult result;
  std::vector<std::string> args{"--listen", "0", setup.peerPath};
  if (setup.netVersion != 0) {
    args.insert(args.begin(), {"--netversion", std::to_string(setup.netVersion)});
  }
  PeerProcess peer(setup.peerProgram, args, setup.workDir + "/peer.log");
  const int port = peer.WaitForListeningPort(60);
  if (port == 0) {
    result.error = "kelpie-peer did not start";
    return result;
  }
  Session session(setup, port, result);
  RunWindowProgram(
      [&session](QtWindow& window, Program& program) { session.Start(window, program); });
  peer.Stop();
  if (!session.StuckAt().empty()) result.error = "stuck at " + session.StuckAt();
  result.match = result.error.empty() && SameContent(setup.savePath, setup.peerPath);
  return result;
}

}  // namespace kelpie::bench
