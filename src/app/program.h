#pragma once

#include <chrono>
#include <cstdint>

#include "app/display_host.h"
#include "app/pending_offers.h"
#include "app/window.h"
#include "app/window_events.h"
#include "protocol/peer_state.h"

namespace kelpie {

// Idle wait of one main-loop pass when nothing is waiting.
inline constexpr int kIdleWaitMs = 10;
// Files up to this size are fingerprinted in the pass that adds them (a few
// tens of milliseconds), larger ones beside the main loop.
inline constexpr int64_t kFingerprintAtOnce = int64_t{16} << 20;
// How long one pass takes messages before leaving the rest for the next
// pass; a message itself is bounded too, so a pass stays well under 100 ms.
inline constexpr std::chrono::milliseconds kPassMessageTime{20};

// How long the main loop's passes took, so that a program can say at its
// end whether anything held the loop up: on the clock, and in processor time
// of the loop's thread, which a busy machine does not stretch.
struct PassStats {
  int64_t passes = 0;
  std::chrono::steady_clock::duration longest{};
  std::chrono::nanoseconds longestWork{};
};

// One running program: its state, its host and its window. Two programs can
// run in one process, each stepped by its own passes.
class Program {
 public:
  // Starts the socket layer; the window must already exist.
  Program(Window& window, WindowEvents& events);
  ~Program();
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
  PassStats passStats;
  // Tests shorten it to take one message per connection and pass.
  std::chrono::steady_clock::duration passMessageTime = kPassMessageTime;
  // Files being read for "Add File to List"; tests lower the size from
  // which they are.
  PendingOffers pendingOffers;
  int64_t fingerprintAtOnce = kFingerprintAtOnce;

 private:
  void ApplyEnablingRule();
  bool HasLocalWork() const;
};

}  // namespace kelpie
