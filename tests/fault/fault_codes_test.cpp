#include "app/fault/fault_codes.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace kelpie {
namespace {

struct SignalCase {
  FaultSignal fault;
  uint32_t code;
};

class FaultCodes : public ::testing::TestWithParam<SignalCase> {};

TEST_P(FaultCodes, MapSignalsToTheReportedCode) {
  EXPECT_EQ(FaultCodeFor(GetParam().fault), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, FaultCodes,
    ::testing::Values(SignalCase{{SIGFPE, FPE_INTDIV}, kIntegerDivideByZero},
                      SignalCase{{SIGFPE, FPE_FLTDIV}, kFloatDivideByZero},
                      SignalCase{{SIGFPE, FPE_FLTOVF}, kFloatOverflow},
                      SignalCase{{SIGFPE, FPE_FLTUND}, kFloatUnderflow},
                      SignalCase{{SIGFPE, FPE_FLTRES}, kFloatInexactResult},
                      SignalCase{{SIGFPE, FPE_FLTINV}, kFloatInvalidOperation},
                      SignalCase{{SIGSEGV, SEGV_MAPERR}, kAccessViolation},
                      SignalCase{{SIGSEGV, SEGV_ACCERR}, kAccessViolation},
                      SignalCase{{SIGSEGV, SEGV_MAPERR, true}, kStackOverflow},
                      // A general protection fault: a privileged instruction or
                      // a non-canonical address.
                      SignalCase{{SIGSEGV, SI_KERNEL, false, true}, kPrivilegedInstruction},
                      SignalCase{{SIGSEGV, SI_KERNEL, false, false}, kAccessViolation},
                      SignalCase{{SIGILL, ILL_ILLOPN}, kIllegalInstruction},
                      SignalCase{{SIGILL, ILL_PRVOPC}, kPrivilegedInstruction},
                      SignalCase{{SIGBUS, BUS_ADRERR}, kInPageError},
                      SignalCase{{SIGBUS, BUS_ADRALN}, kDatatypeMisalignment},
                      SignalCase{{SIGTRAP, SI_KERNEL}, kBreakpoint},
                      SignalCase{{SIGTRAP, TRAP_BRKPT}, kBreakpoint},
                      SignalCase{{SIGTRAP, SI_TKILL}, kBreakpoint},
                      SignalCase{{SIGTRAP, TRAP_TRACE}, kSingleStep}));

TEST(FaultDescription, GivesTheTextsOfKnownCodesExactly) {
  EXPECT_EQ(FaultDescription(0xC0000094), "Attempted division by zero");
  EXPECT_EQ(FaultDescription(0xC000013A),
            "CONTROL_C_EXIT Lets the debugger know the user hit Ctrl-C. ");
  EXPECT_EQ(FaultDescription(0xC000008F),
            "FLOAT_INEXACT_RESULT The accuracy of the last floating point operation is worse than "
            "usual as it is impossible to represent in the float accurately,");
  EXPECT_EQ(FaultDescription(0x80000004),
            "SINGLE_STEP The CPU has signalled that one instruction has been executed.Only of "
            "interest to Debuggers");
  EXPECT_EQ(FaultDescription(0), "No Error");
}

TEST(FaultDescription, NamesCodesWithoutTextUnknown) {
  EXPECT_EQ(FaultDescription(kInPageError), "UNKNOWN Error");
  EXPECT_EQ(FaultDescription(kDatatypeMisalignment), "UNKNOWN Error");
  EXPECT_EQ(FaultDescription(0xFFFFFFFF), "UNKNOWN Error");
}

TEST(ModuleOfFile, TellsTheFrameModuleFromTheRestOfTheProgram) {
  constexpr std::string_view kRoot = "/home/me/kelpie";
  EXPECT_EQ(ModuleOfFile("/home/me/kelpie/src/transport/frames.cpp", kRoot), kFrameModule);
  EXPECT_EQ(ModuleOfFile("/home/me/kelpie/src/transport/frames.cpp", "/home/me/kelpie/"),
            kFrameModule);
  EXPECT_EQ(ModuleOfFile("/home/me/kelpie/src/transport/frames.h", kRoot), kMainModule);
  EXPECT_EQ(ModuleOfFile("/home/me/kelpie/src/main.cpp", kRoot), kMainModule);
  EXPECT_EQ(ModuleOfFile("/home/me/kelpie-old/src/main.cpp", kRoot), std::nullopt);
  EXPECT_EQ(ModuleOfFile("/usr/include/c++/12/bits/stl_algobase.h", kRoot), std::nullopt);
  EXPECT_EQ(ModuleName(kFrameModule), "Send_Receive_DebugBuffer");
  EXPECT_EQ(ModuleName(kMainModule), "Kelpie");
}

}  // namespace
}  // namespace kelpie
