#include "app/fault/fault_codes.h"

#include <signal.h>

#include <array>
#include <utility>

namespace kelpie {
namespace {

constexpr std::array<std::pair<uint32_t, std::string_view>, 20> kDescriptions = {{
    {kIntegerDivideByZero, "Attempted division by zero"},
    {kAccessViolation,
     "An attemped read or write to/from an address to which that process isn't allowed"},
    {kPrivilegedInstruction,
     "The instruction is not allowed in the current ring (inport, outport & control register "
     "manipulation usually)"},
    {kIllegalInstruction,
     "Try to execute an invalid instruction -such as MMX opcodes on a non MMX system"},
    {0xC0000025,
     "The exception filter returned EXCEPTION_CONTINUE_EXCEPTION when the exception raised isn't "
     "restartable"},
    {kStackOverflow,
     "Stack overflow.Can occur during errant recursion, or when a function creates a "
     "particularly large array on the stack."},
    {0xC0000026,
     "INVALID_DISPOSITION Whatever number the exception filter returned, it wasn't a value the "
     "OS knows about."},
    {0xC0000008,
     "INVALID_HANDLE The API call was passed a handle to a kernel object which was invalid "
     "-usually because that handle has already been closed."},
    {0xC0000142, "EXCEPTION_DLL_Initialisation_Failure raised when DllMain() returns false (?)"},
    {kFloatDenormalOperand,
     "FLOAT_DENORMAL_OPERAND One of the operands in a floating-point operation is too small to "
     "be represented in a floating-point value."},
    {kFloatDivideByZero,
     "FLOAT_DIVIDE_BY_ZERO The thread tried to divide a floating-point value by zero."},
    {kFloatInexactResult,
     "FLOAT_INEXACT_RESULT The accuracy of the last floating point operation is worse than "
     "usual as it is impossible to represent in the float accurately,"},
    {kFloatInvalidOperation, "FLOAT_INVALID_OPERATION Any other floating-point exception."},
    {kFloatOverflow, "FLOAT_OVERFLOW The result was too big to represent"},
    {kFloatStackCheck,
     "FLOAT_STACK_CHECK A floating point stack overflowed or underflow. This related to the "
     "baroque design of the floating point unit."},
    {kFloatUnderflow, "FLT_UNDERFLOW The result was too small to represent"},
    {0xC000013A, "CONTROL_C_EXIT Lets the debugger know the user hit Ctrl-C. "},
    {kBreakpoint, "BREAKPOINT A breakpoint was encountered."},
    {kSingleStep,
     "SINGLE_STEP The CPU has signalled that one instruction has been executed.Only of interest "
     "to Debuggers"},
    {kNoFault, "No Error"},
}};

constexpr std::string_view kFrameSource = "/src/transport/frames.cpp";

uint32_t FloatingPointCode(int code) {
  switch (code) {
    case FPE_INTDIV:
      return kIntegerDivideByZero;
    case FPE_FLTDIV:
      return kFloatDivideByZero;
    case FPE_FLTOVF:
      return kFloatOverflow;
    case FPE_FLTUND:
      return kFloatUnderflow;
    case FPE_FLTRES:
      return kFloatInexactResult;
    default:  // FPE_FLTINV, FPE_FLTSUB, FPE_FLTUNK, x87 stack faults
      return kFloatInvalidOperation;
  }
}

uint32_t TrapCode(int code) {
  // Single steps and debug-register breakpoints arrive as TRAP_TRACE and
  // TRAP_HWBKPT; int3 arrives as SI_KERNEL (or TRAP_BRKPT), raise() as SI_TKILL.
  return code == TRAP_TRACE || code == TRAP_HWBKPT ? kSingleStep : kBreakpoint;
}

}  // namespace

uint32_t FaultCodeFor(const FaultSignal& fault) {
  switch (fault.signal) {
    case SIGFPE:
      return FloatingPointCode(fault.code);
    case SIGILL:
      return fault.code == ILL_PRVOPC || fault.code == ILL_PRVREG ? kPrivilegedInstruction
                                                                  : kIllegalInstruction;
    case SIGSEGV:
      // A general protection fault (SI_KERNEL) is how x86-64 Linux reports
      // privileged instructions such as hlt, cli or in/out.
      if (fault.code == SI_KERNEL && fault.privileged) return kPrivilegedInstruction;
      return fault.nearStack ? kStackOverflow : kAccessViolation;
    case SIGBUS:
      return fault.code == BUS_ADRALN ? kDatatypeMisalignment : kInPageError;
    case SIGTRAP:
      return TrapCode(fault.code);
    default:
      return kNoFault;
  }
}

std::string_view FaultDescription(uint32_t code) {
  for (const auto& [known, text] : kDescriptions) {
    if (known == code) return text;
  }
  return "UNKNOWN Error";
}

std::string_view ModuleName(int32_t module) {
  return module == kFrameModule ? "Send_Receive_DebugBuffer" : "Kelpie";
}

std::optional<int32_t> ModuleOfFile(std::string_view path, std::string_view sourceRoot) {
  while (sourceRoot.ends_with('/'))
    sourceRoot.remove_suffix(1);
  if (sourceRoot.empty() || !path.starts_with(sourceRoot)) return std::nullopt;
  const std::string_view rest = path.substr(sourceRoot.size());
  if (!rest.starts_with('/')) return std::nullopt;
  return rest == kFrameSource ? kFrameModule : kMainModule;
}

}  // namespace kelpie
