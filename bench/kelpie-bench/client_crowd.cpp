#include "client_crowd.h"

#include <algorithm>

#include "app/headless_window.h"
#include "app/peer_session.h"
#include "app/program.h"
#include "app/secure_mode.h"

namespace kelpie::bench {

namespace {

using Clock = std::chrono::steady_clock;

enum class Stage { Listing, Choosing, Ready, Comparing, ChoosingJob, Synchronising, Done, Failed };

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// The window's events, with the idle wait handed to the crowd: the program's
// sockets join the one wait on all of them.
class SharedWait : public WindowEvents {
 public:
  SharedWait(HeadlessWindow& window, std::vector<pollfd>& fds) : window_(window), fds_(fds) {}
  WindowEvent PollEvent() override { return window_.PollEvent(); }
  void WaitIdle(const std::vector<pollfd>& fds, int) override {
    idle = true;
    fds_.insert(fds_.end(), fds.begin(), fds.end());
  }
  bool idle = false;

 private:
  HeadlessWindow& window_;
  std::vector<pollfd>& fds_;
};

}  // namespace

struct CrowdMember {
  CrowdMember(const ClientCrowd::Client& client, std::vector<pollfd>& fds)
      : paths(client), events(window, fds) {
    program.host.SetLogSink([this](std::string_view line) {
      if (line == "Comparison finished!" && !compared) {
        compared = true;
        comparedAt = Clock::now();
      }
      if (line == "Syncronison complete!" && !saved) {
        saved = true;
        savedAt = Clock::now();
      }
    });
  }

  // Moves on to the next stage once this one is through.
  void Advance() {
    switch (stage) {
      case Stage::Listing:
        if (window.RowCount(kServerFiles) != 1) return;
        window.SelectRow(kServerFiles, 0);
        window.SelectRow(kClientFiles, 0);
        stage = Stage::Choosing;
        return;
      case Stage::Choosing:
        if (!window.HasPendingEvents()) stage = Stage::Ready;
        return;
      case Stage::Comparing:
        if (!compared) return;
        window.SelectRow(kJobList, 0);
        window.QueueSaveFileAnswer(paths.savePath);
        stage = Stage::ChoosingJob;
        return;
      case Stage::ChoosingJob:
        if (window.HasPendingEvents()) return;
        syncClickedAt = Clock::now();
        stage = window.Click(kSyncButton) ? Stage::Synchronising : Stage::Failed;
        return;
      case Stage::Synchronising:
        if (saved) stage = Stage::Done;
        return;
      default:
        return;
    }
  }

  bool Settled() const {
    return stage == Stage::Ready || stage == Stage::Done || stage == Stage::Failed;
  }

  ClientCrowd::Client paths;
  HeadlessWindow window;
  SharedWait events;
  Program program{window, events};
  Stage stage = Stage::Listing;
  bool compared = false;
  bool saved = false;
  Clock::time_point compareClickedAt, comparedAt, syncClickedAt, savedAt;
};

ClientCrowd::ClientCrowd(int port, int netVersion, const std::string& keyFile,
                         const std::vector<Client>& clients)
    : port_(port), keyFile_(keyFile) {
  for (const Client& client : clients) {
    members_.push_back(std::make_unique<CrowdMember>(client, fds_));
    members_.back()->program.state.NetVersion = netVersion;
  }
}

ClientCrowd::~ClientCrowd() {
  for (auto& member : members_)
    member->program.Cleanup();
}

void ClientCrowd::Round() {
  fds_.clear();
  bool allIdle = true;
  for (auto& member : members_) {
    member->events.idle = false;
    member->program.Pass();
    allIdle = allIdle && member->events.idle;
    member->Advance();
  }
  if (allIdle) ::poll(fds_.data(), fds_.size(), kIdleWaitMs);
}

std::string ClientCrowd::RunUntilSettled(std::chrono::steady_clock::time_point deadline) {
  auto settled = [&] {
    for (auto& member : members_) {
      if (!member->Settled()) return false;
    }
    return true;
  };
  while (!settled()) {
    if (std::chrono::steady_clock::now() >= deadline) return "timed out";
    Round();
  }
  for (auto& member : members_) {
    if (member->stage == Stage::Failed) return "a client could not click on";
  }
  return "";
}

std::string ClientCrowd::Prepare(std::chrono::steady_clock::time_point deadline) {
  for (auto& member : members_) {
    std::string error = keyFile_.empty() ? "" : UseKeyFile(member->program, keyFile_);
    if (error.empty()) error = ConnectTo(member->program, member->window, "127.0.0.1", port_);
    if (error.empty()) error = OfferFile(member->program, member->window, member->paths.localPath);
    if (!error.empty()) return error;
  }
  std::string error = RunUntilSettled(deadline);
  return error.empty() ? "" : error + " before comparing";
}

std::string ClientCrowd::CompareAndSave(std::chrono::steady_clock::time_point deadline) {
  for (auto& member : members_) {
    // Only the passes from here on: the offers before are the start-up.
    member->program.passStats = {};
    member->compareClickedAt = Clock::now();
    member->stage = member->window.Click(kCompareButton) ? Stage::Comparing : Stage::Failed;
  }
  return RunUntilSettled(deadline);
}

std::vector<ClientCrowd::Times> ClientCrowd::ClientTimes() const {
  std::vector<Times> times;
  for (const auto& member : members_) {
    Times t;
    if (member->compared) t.compareSeconds = Seconds(member->compareClickedAt, member->comparedAt);
    if (member->saved) t.syncSeconds = Seconds(member->syncClickedAt, member->savedAt);
    times.push_back(t);
  }
  return times;
}

PassStats ClientCrowd::LongestPass() const {
  PassStats longest;
  for (const auto& member : members_) {
    const PassStats& stats = member->program.passStats;
    longest.passes += stats.passes;
    longest.longest = std::max(longest.longest, stats.longest);
    longest.longestWork = std::max(longest.longestWork, stats.longestWork);
  }
  return longest;
}

}  // namespace kelpie::bench
