#include "app/program.h"

#include <time.h>

#include <algorithm>

#include "app/commands.h"
#include "app/stop_signals.h"
#include "compare/background_work.h"
#include "compare/engine.h"
#include "protocol/client_handler.h"
#include "protocol/keep_alive.h"
#include "protocol/prepared_responders.h"
#include "protocol/server_handler.h"

namespace kelpie {

Program::Program(Window& window_, WindowEvents& events_) : window(window_), events(events_) {
  state.network.NetStartup();
  // Peers must not take a program whose user is choosing a file for gone.
  window.SetWhileDialogOpen([this] {
    SendDueKeepAlives(state);
    state.network.FlushPending();
  });
}

Program::~Program() {
  window.SetWhileDialogOpen({});
}

namespace {

std::chrono::nanoseconds ThreadTime() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

void Program::Pass() {
  const auto began = std::chrono::steady_clock::now();
  const auto work = ThreadTime();
  state.passDeadline = began + passMessageTime;
  // A caught SIGINT or SIGTERM closes the program as the window would.
  if (StopSignalled()) QuitRequested = 1;
  WindowEvent event = events.PollEvent();
  switch (event.kind) {
    case WindowEventKind::Control:
      HandleControlEvent(event.controlId);
      ApplyEnablingRule();
      break;
    case WindowEventKind::Close:
      // The rest of this pass still runs; the loop ends after it.
      QuitRequested = 1;
      break;
    case WindowEventKind::None:
      if (!HasLocalWork() && QuitRequested == 0) {
        std::vector<pollfd> fds;
        state.network.AppendPollFds(fds);
        if (StopSignalDescriptor() >= 0) fds.push_back({StopSignalDescriptor(), POLLIN, 0});
        // Work beside the loop (an index, a file's hash) wakes it when done.
        if (BackgroundDoneDescriptor() >= 0) fds.push_back({BackgroundDoneDescriptor(), POLLIN, 0});
        events.WaitIdle(fds, kIdleWaitMs);
        DrainBackgroundDone();
      }
      break;
    case WindowEventKind::Other:
      break;
  }
  OfferReadFiles(*this);
  state.network.FlushPending();
  if (state.ServerRunning == 1) ServerStep(state, host);
  if (state.ServerConnection != 0) ClientStep(state, host);
  KeepConnectionsAlive(state, host);
  AnswerPreparedResponders(state, host);
  RunComparisons(state.tables, host);
  ++passStats.passes;
  passStats.longest = std::max(passStats.longest, std::chrono::steady_clock::now() - began);
  passStats.longestWork = std::max(passStats.longestWork, ThreadTime() - work);
}

void Program::MainLoop() {
  do {
    Pass();
  } while (QuitRequested == 0);
}

void Program::Cleanup() {
  state.frames.FreeFrameBuffers();
  state.network.NetShutdown();
}

// Once a role is active, its refresh button and "Add File to List" are
// enabled; nothing here disables them again.
void Program::ApplyEnablingRule() {
  if (state.ServerConnection == 0 && state.ServerRunning != 1) return;
  if (state.ServerConnection != 0) window.EnableControl(kServerRefresh, true);
  if (state.ServerRunning == 1) window.EnableControl(kClientRefresh, true);
  window.EnableControl(kAddFileButton, true);
}

// A synchronising job copies found ranges without waiting for the network, a
// comparing one may have checks still to send, and messages left by the last
// pass are already read, so a pass with such work does not sleep.
bool Program::HasLocalWork() const {
  if (!state.unfinishedInput.empty()) return true;
  for (const CompareJob& job : state.tables.CompareJobs) {
    if (job.state == kSynchronising) return true;
    if (job.state == kComparing && job.strategy && job.strategy->MoreToSend()) return true;
  }
  return false;
}

}  // namespace kelpie
