#pragma once

#include <cstdint>

#include "app/display_host.h"
#include "app/window.h"
#include "app/window_events.h"
#include "protocol/peer_state.h"

namespace kelpie {

// Idle wait of one main-loop pass when nothing is waiting.
inline constexpr int kIdleWaitMs = 10;

// One running program: its state, its host and its window. Two programs can
// run in one process, each stepped by its own passes.
class Program {
 public:
  // Starts the socket layer; the window must already exist.
  Program(Window& window, WindowEvents& events);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // One main-loop pass: one window event (or the idle wait), then the server
  // step, the client step and the comparison driver.
  void Pass();
  // Passes until the user asks to close the window.
  void MainLoop();
  // Releases the frame buffers and the socket layer; peers are not told.
  void Cleanup();

  void HandleControlEvent(int id);

  Window& window;
  WindowEvents& events;
  PeerState state;
  DisplayHost host{state, window};
  int32_t QuitRequested = 0;

 private:
  void ApplyEnablingRule();
  bool HasLocalWork() const;
};

}  // namespace kelpie
