#pragma once

#include <functional>

namespace kelpie {

class Program;
class QtWindow;

// Runs once the window is shown, before the main loop (tests use it to
// answer dialogs and to act inside the running program).
using StartedHook = std::function<void(QtWindow&, Program&)>;

// The window program from start-up to its end: registers the error reporter
// with the window's Yes/No box, starts the socket layer, opens the window,
// turns on secure mode when the user has a key file, runs the main loop until
// the user closes the window, then cleans up. Needs a QApplication, and
// kelpie_fault (the error reporter and the fault hook) linked into the
// program. Returns the exit code: 0, or 2 when the key file cannot be used.
int RunWindowProgram(const StartedHook& started = {});

}  // namespace kelpie
