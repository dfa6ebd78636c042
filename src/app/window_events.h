#pragma once

#include <poll.h>

#include <vector>

namespace kelpie {

enum class WindowEventKind {
  None,     // nothing was waiting
  Control,  // a control was used; controlId names it
  Close,    // the user asked to close the window
  Other,    // something that needs no action here
};

struct WindowEvent {
  WindowEventKind kind = WindowEventKind::None;
  int controlId = -1;
};

// The window's side of the main loop: one event per pass, and the idle wait.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;

  // Takes at most one pending window event; never waits.
  virtual WindowEvent PollEvent() = 0;
  // Waits until the window has an event, one of fds is ready, or timeoutMs
  // has passed, whichever comes first.
  virtual void WaitIdle(const std::vector<pollfd>& fds, int timeoutMs) = 0;
};

}  // namespace kelpie
