#include "app/qt/window_program.h"

#include <QMessageBox>
#include <cstdio>

#include "app/fault/error_reporter.h"
#include "app/program.h"
#include "app/qt/qt_window.h"
#include "app/secure_mode.h"

namespace kelpie {
namespace {

// The error reporter asks through the window's Yes/No box while the window
// object lives; afterwards it writes its text to stderr and goes on.
class ErrorDialogInWindow {
 public:
  explicit ErrorDialogInWindow(QtWindow& window) {
    SetErrorDialog([&window](std::string_view title, std::string_view text) {
      return window.AskYesNo(title, text);
    });
  }
  ~ErrorDialogInWindow() { SetErrorDialog({}); }
  ErrorDialogInWindow(const ErrorDialogInWindow&) = delete;
  ErrorDialogInWindow& operator=(const ErrorDialogInWindow&) = delete;
};

}  // namespace

int RunWindowProgram(const StartedHook& started) {
  QtWindow window;
  // From here on every fault is reported, even before the window exists
  // (the box then has no parent).
  ErrorDialogInWindow errorDialog(window);
  RegisterErrorHandler(ErrorHandler);
  Program program(window, window);  // starts the socket layer
  window.Open(program.state);
  // A key file that cannot be used ends the program: going on without it
  // would talk in clear to anyone.
  if (std::string error = UseUserKeyFile(program); !error.empty()) {
    std::fprintf(stderr, "kelpie: %s\n", error.c_str());
    QMessageBox::critical(nullptr, "Kelpie", QString::fromStdString(error));
    program.Cleanup();
    return 2;
  }
  if (started) started(window, program);
  program.MainLoop();
  program.Cleanup();
  return 0;
}

}  // namespace kelpie
