// Entry point of kelpie, the window program.
#include <QApplication>

#include "app/qt/window_program.h"
#include "app/stop_signals.h"

int main(int, char** argv) {
  // The program takes no command-line arguments, Qt's own included.
  int argc = 1;
  QApplication app(argc, argv);
  // SIGINT and SIGTERM close the window as the user would.
  kelpie::CatchStopSignals();
  return kelpie::RunWindowProgram();
}
