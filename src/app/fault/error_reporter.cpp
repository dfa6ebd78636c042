#include "app/fault/error_reporter.h"

#include <unistd.h>

#include <utility>

#include "app/fault/fault_codes.h"
#include "app/fault/fault_hook.h"

namespace kelpie {
namespace {

ErrorDialog& Dialog() {
  static ErrorDialog dialog;
  return dialog;
}

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

ErrorHandlerProc RegisterErrorHandler(ErrorHandlerProc handler) {
  SetFaultCallback(handler);
  return handler;
}

void SetErrorDialog(ErrorDialog dialog) {
  Dialog() = std::move(dialog);
}

std::string_view ErrorDescription() {
  return FaultDescription(LastFault().code);
}

int32_t ErrorAddress() {
  return static_cast<int32_t>(static_cast<uint32_t>(LastFault().address));
}

std::string_view ErrorModuleName() {
  return ModuleName(LastFault().module);
}

int32_t ErrorLineNumber() {
  return LastFault().line;
}

int32_t ErrorCount() {
  return LastFault().count;
}

std::string ErrorText() {
  std::string text = "There was an error:\r\n\r\n";
  text += "Description: ";
  text += ErrorDescription();
  text += "\r\nAddr: " + std::to_string(ErrorAddress());
  text += "\r\nModule: ";
  text += ErrorModuleName();
  text += "\r\nLineNR: " + std::to_string(ErrorLineNumber() + 1);
  text += "\r\nTotal number of errors: " + std::to_string(ErrorCount());
  text += "\r\n\r\nContinue program ?";
  return text;
}

int32_t ErrorHandler() {
  const std::string text = ErrorText();
  if (!Dialog()) {
    WriteAll(STDERR_FILENO, text + "\n");
    return 1;
  }
  if (Dialog()(kErrorDialogTitle, text)) return 1;
  RemoveFaultHook();
  _exit(0);
}

}  // namespace kelpie
