// A program that faults before main and once more after registering the
// error reporter, printing what it sees. The dialog is answered Yes.
#include <cstdio>
#include <string_view>

#include "app/fault/error_reporter.h"

namespace {

volatile int gZero = 0;
volatile int gNumerator = 1;

// Dynamic initialisation: runs before main, after the fault hook is in place.
const int gEarly = gNumerator / gZero;

bool PrintDialog(std::string_view title, std::string_view text) {
  std::printf("%.*s\n%.*s\n", static_cast<int>(title.size()), title.data(),
              static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
  return true;
}

}  // namespace

int main() {
  std::printf("count at main: %d\n", kelpie::ErrorCount());
  kelpie::SetErrorDialog(PrintDialog);
  kelpie::RegisterErrorHandler(kelpie::ErrorHandler);
  const int late = gNumerator / gZero;
  // The quotients are whatever the registers held; printing them keeps both
  // divisions in the program.
  std::printf("carried on %d\n", gEarly + late);
  return 0;
}
