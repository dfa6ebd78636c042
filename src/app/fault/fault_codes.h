#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kelpie {

// Fault codes as the reporter names them (the Windows exception codes the
// dialog's descriptions were written for).
inline constexpr uint32_t kNoFault = 0;
inline constexpr uint32_t kAccessViolation = 0xC0000005;
inline constexpr uint32_t kInPageError = 0xC0000006;
inline constexpr uint32_t kIllegalInstruction = 0xC000001D;
inline constexpr uint32_t kFloatDenormalOperand = 0xC000008D;
inline constexpr uint32_t kFloatDivideByZero = 0xC000008E;
inline constexpr uint32_t kFloatInexactResult = 0xC000008F;
inline constexpr uint32_t kFloatInvalidOperation = 0xC0000090;
inline constexpr uint32_t kFloatOverflow = 0xC0000091;
inline constexpr uint32_t kFloatStackCheck = 0xC0000092;
inline constexpr uint32_t kFloatUnderflow = 0xC0000093;
inline constexpr uint32_t kIntegerDivideByZero = 0xC0000094;
inline constexpr uint32_t kPrivilegedInstruction = 0xC0000096;
inline constexpr uint32_t kStackOverflow = 0xC00000FD;
inline constexpr uint32_t kDatatypeMisalignment = 0x80000002;
inline constexpr uint32_t kBreakpoint = 0x80000003;
inline constexpr uint32_t kSingleStep = 0x80000004;

// Source modules named by the dialog.
inline constexpr int32_t kMainModule = 1;
inline constexpr int32_t kFrameModule = 2;

// What the signal handler knows about one fault signal.
struct FaultSignal {
  int signal = 0;
  int code = 0;             // siginfo si_code
  bool nearStack = false;   // SIGSEGV at an address next to the stack pointer
  bool privileged = false;  // the instruction needs ring 0 (or I/O rights)
};

// The fault code for a caught signal.
uint32_t FaultCodeFor(const FaultSignal& fault);

// The dialog's description of a fault code; "UNKNOWN Error" for codes it
// has no text for.
std::string_view FaultDescription(uint32_t code);

// The dialog's name of a source module.
std::string_view ModuleName(int32_t module);

// The module a source file belongs to: kFrameModule for the frame layer's
// source, kMainModule for any other file under sourceRoot, none for files
// outside the program (system headers, libraries).
std::optional<int32_t> ModuleOfFile(std::string_view path, std::string_view sourceRoot);

}  // namespace kelpie
