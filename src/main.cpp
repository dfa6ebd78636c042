// Entry point of kelpie, the window program.
#include <QApplication>

#include "app/qt/window_program.h"

int main(int, char** argv) {
  // The program takes no command-line arguments, Qt's own included.
  int argc = 1;
  QApplication app(argc, argv);
  return kelpie::RunWindowProgram();
}
