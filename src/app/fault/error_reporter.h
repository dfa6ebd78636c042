#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kelpie {

using ErrorHandlerProc = int32_t (*)();

// Shows a modal Yes/No box with a stop icon; true for Yes. The window
// program supplies it; this library has no GUI of its own.
using ErrorDialog = std::function<bool(std::string_view title, std::string_view text)>;

inline constexpr std::string_view kErrorDialogTitle = "Error!";

// From now on every fault on the calling thread runs handler and then the
// program goes on after the faulting instruction. Before this, faults are
// passed over silently (but counted). Returns handler.
ErrorHandlerProc RegisterErrorHandler(ErrorHandlerProc handler);

// The dialog ErrorHandler shows. Without one, ErrorHandler writes its text
// to stderr and the program goes on.
void SetErrorDialog(ErrorDialog dialog);

// The last fault.
std::string_view ErrorDescription();
// The faulting instruction's address. The value is signed 32-bit, so on a
// 64-bit process this is the low 32 bits of the address.
int32_t ErrorAddress();
std::string_view ErrorModuleName();
// The line of the statement that was executing, counted from 0; -1 when it
// could not be found.
int32_t ErrorLineNumber();
// Faults since the program started, silent ones included.
int32_t ErrorCount();

// The dialog text for the last fault.
std::string ErrorText();

// Asks the user whether to go on. Yes returns 1. No ends the process at once
// with exit code 0: the previous fault handling is put back and the
// program's own cleanup (atexit handlers, destructors) does not run.
int32_t ErrorHandler();

}  // namespace kelpie
