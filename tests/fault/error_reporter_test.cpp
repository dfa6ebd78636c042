#include "app/fault/error_reporter.h"

#include <fcntl.h>
#include <fenv.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "app/fault/fault_hook.h"
#include "child_process.h"
#include "dialog_seam.h"

// Register images written by FaultWithKnownRegisters, at global scope so the
// assembly can address them by name.
extern "C" {
uint64_t kelpie_test_registers[14];
uint8_t kelpie_test_vectors[4][16];
alignas(16) uint8_t kelpie_test_vector_pattern[4][16] = {
    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
    {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87, 0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E,
     0x0F},
    {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55,
     0xAA},
    {0xDE, 0xAD, 0xBE, 0xEF, 0xFE, 0xED, 0xFA, 0xCE, 0xCA, 0xFE, 0xBA, 0xBE, 0x0B, 0xAD, 0xF0,
     0x0D},
};
uint64_t kelpie_test_stack_before;
uint64_t kelpie_test_stack_after;
uint8_t kelpie_test_carry_after;
}

namespace kelpie {
namespace {

using test::ChildOutcome;
using test::DialogField;
using test::MarkerLine;
using test::RegisterAnsweredReporter;
using test::ReportChannel;
using test::RunInChild;

constexpr int kCarriedOn = 5;

volatile int32_t gZero = 0;
volatile double gZeroDouble = 0.0;
int32_t* volatile gNullPointer = nullptr;
volatile int32_t gSink = 0;
volatile int32_t gNever = -1;

// The faulting statements. Each carries a marker the tests look up to know
// its line.
__attribute__((noinline)) int32_t DivideByZero(int32_t numerator) {
  return numerator / gZero;  // FAULT(divide)
}

__attribute__((noinline)) int32_t ReadThroughNull() {
  return *gNullPointer;  // FAULT(null)
}

__attribute__((noinline)) void ExecuteInvalidInstruction() {
  asm volatile("ud2");  // FAULT(invalid)
}

__attribute__((noinline)) void HitBreakpoint() {
  asm volatile("int3");  // FAULT(breakpoint)
}

__attribute__((noinline)) void ExecutePrivilegedInstruction() {
  asm volatile("hlt");  // FAULT(privileged)
}

__attribute__((noinline)) double DivideFloatByZero() {
  return 1.0 / gZeroDouble;  // FAULT(float)
}

__attribute__((noinline)) int32_t ReadPastEndOfFile(const volatile uint8_t* mapped) {
  return mapped[0];  // FAULT(bus)
}

// A page that faults on every access.
const int32_t* ForbiddenPage() {
  static void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return static_cast<const int32_t*>(page);
}

// The fault happens inside libc; the report names the call.
__attribute__((noinline)) void CopyFromForbiddenPage() {
  int32_t copy[16];
  void* (*volatile copier)(void*, const void*, size_t) = &memcpy;
  copier(copy, ForbiddenPage(), sizeof(copy));  // FAULT(libc)
  gSink = copy[0];
}

// The fault happens in library code inlined here; the report names this line.
__attribute__((noinline)) void SumForbiddenPage() {
  gSink = std::accumulate(ForbiddenPage(), ForbiddenPage() + 64, 0);  // FAULT(inlined)
}

__attribute__((noinline)) int32_t Recurse(int32_t depth) {
  volatile uint8_t frame[512];
  frame[0] = static_cast<uint8_t>(depth);
  if (depth == gNever) return 0;
  return Recurse(depth + 1) + frame[0];
}

void TriggerDivide() {
  gSink = DivideByZero(7);
}
void TriggerNull() {
  gSink = ReadThroughNull();
}
void TriggerFloat() {
  feenableexcept(FE_DIVBYZERO);
  gSink = static_cast<int32_t>(DivideFloatByZero());
  fedisableexcept(FE_DIVBYZERO);
}
// A shared mapping of a file that is then cut to nothing: touching it raises SIGBUS.
void TriggerBus() {
  std::string path = (std::filesystem::temp_directory_path() / "kelpie_fault_XXXXXX").string();
  const int fd = mkstemp(path.data());
  unlink(path.c_str());
  if (fd < 0 || ftruncate(fd, 4096) != 0) return;
  void* mapped = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED || ftruncate(fd, 0) != 0) return;
  gSink = ReadPastEndOfFile(static_cast<const volatile uint8_t*>(mapped));
}
void TriggerStackOverflow() {
  // Keep the run short even where the stack limit is large or unlimited.
  rlimit limit{};
  getrlimit(RLIMIT_STACK, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 4 << 20);
  setrlimit(RLIMIT_STACK, &limit);
  gSink = Recurse(0);
}

#define SKIP_WITHOUT_HOOK()                                   \
  if (!FaultHookInstalled())                                  \
  GTEST_SKIP() << "the sanitizer build leaves faults to the " \
                  "sanitizer"

std::string ExpectedText(std::string_view description, int32_t address, std::string_view module,
                         int line, int count) {
  return "There was an error:\r\n\r\nDescription: " + std::string(description) +
         "\r\nAddr: " + std::to_string(address) + "\r\nModule: " + std::string(module) +
         "\r\nLineNR: " + std::to_string(line) +
         "\r\nTotal number of errors: " + std::to_string(count) + "\r\n\r\nContinue program ?";
}

TEST(ErrorReporter, TextBeforeAnyFaultSaysNoError) {
  EXPECT_EQ(ErrorText(), ExpectedText("No Error", 0, "Kelpie", 0, 0));
}

TEST(ErrorReporter, DivisionByZeroShowsTheStatementAndCountsOne) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild([](const ReportChannel& channel) {
    RegisterAnsweredReporter(channel, {true});
    TriggerDivide();
    const auto start = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&DivideByZero));
    channel.Send("address", std::to_string(ErrorAddress()));
    channel.Send("offset", std::to_string(static_cast<uint32_t>(ErrorAddress()) - start));
    return kCarriedOn;
  });
  ASSERT_EQ(outcome.exitCode, kCarriedOn);
  ASSERT_EQ(outcome.Reports("text").size(), 1u);
  EXPECT_EQ(outcome.Reports("title")[0], "Error!");
  const int32_t address = std::stoi(outcome.Reports("address").at(0));
  EXPECT_EQ(outcome.Reports("text")[0], ExpectedText("Attempted division by zero", address,
                                                     "Kelpie", MarkerLine(__FILE__, "divide"), 1));
  // The address is that of the division inside DivideByZero.
  EXPECT_LT(std::stoul(outcome.Reports("offset").at(0)), 64u);
}

constexpr const char* kAccessViolationText =
    "An attemped read or write to/from an address to which that process isn't allowed";

struct FaultKind {
  const char* name;  // also the fault marker
  bool lineKnown;    // false where the faulting line depends on code generation
  void (*trigger)();
  const char* description;
  bool answerYes;
};

class FaultKinds : public ::testing::TestWithParam<FaultKind> {};

TEST_P(FaultKinds, ShowDescriptionModuleAndLine) {
  SKIP_WITHOUT_HOOK();
  const FaultKind kind = GetParam();
  const ChildOutcome outcome = RunInChild([&kind](const ReportChannel& channel) {
    RegisterAnsweredReporter(channel, {kind.answerYes});
    kind.trigger();
    return kCarriedOn;
  });
  EXPECT_EQ(outcome.exitCode, kind.answerYes ? kCarriedOn : 0);
  ASSERT_EQ(outcome.Reports("text").size(), 1u);
  const std::string text = outcome.Reports("text")[0];
  EXPECT_EQ(DialogField(text, "Description"), kind.description);
  EXPECT_EQ(DialogField(text, "Module"), "Kelpie");
  if (kind.lineKnown) {
    EXPECT_EQ(DialogField(text, "LineNR"), std::to_string(MarkerLine(__FILE__, kind.name)));
  }
  EXPECT_EQ(DialogField(text, "Total number of errors"), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Signals, FaultKinds,
    ::testing::Values(
        FaultKind{"null", true, TriggerNull, kAccessViolationText, true},
        FaultKind{"invalid", true, ExecuteInvalidInstruction,
                  "Try to execute an invalid instruction -such as MMX opcodes on a non MMX system",
                  true},
        FaultKind{"breakpoint", true, HitBreakpoint, "BREAKPOINT A breakpoint was encountered.",
                  true},
        FaultKind{"privileged", true, ExecutePrivilegedInstruction,
                  "The instruction is not allowed in the current ring (inport, outport & control "
                  "register manipulation usually)",
                  true},
        FaultKind{"float", true, TriggerFloat,
                  "FLOAT_DIVIDE_BY_ZERO The thread tried to divide a floating-point value by zero.",
                  true},
        FaultKind{"bus", true, TriggerBus, "UNKNOWN Error", true},
        // Going on inside a copy from a forbidden page, or inside a runaway
        // recursion, only faults again: answer No.
        FaultKind{"libc", true, CopyFromForbiddenPage, kAccessViolationText, false},
        FaultKind{"inlined", true, SumForbiddenPage, kAccessViolationText, false},
        FaultKind{"stack", false, TriggerStackOverflow,
                  "Stack overflow.Can occur during errant recursion, or when a function creates a "
                  "particularly large array on the stack.",
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorReporter, YesGoesOnWithCorrectResultsAndTheNextFaultCountsOn) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild([](const ReportChannel& channel) {
    RegisterAnsweredReporter(channel, {true, true});
    TriggerDivide();
    std::vector<int64_t> values(1000);
    std::iota(values.begin(), values.end(), 1);
    channel.Send("sum", std::to_string(std::accumulate(values.begin(), values.end(), int64_t{0})));
    TriggerNull();
    channel.Send("count", std::to_string(ErrorCount()));
    return kCarriedOn;
  });
  EXPECT_EQ(outcome.exitCode, kCarriedOn);
  EXPECT_EQ(outcome.Reports("sum"), std::vector<std::string>{"500500"});
  EXPECT_EQ(outcome.Reports("count"), std::vector<std::string>{"2"});
  const auto texts = outcome.Reports("text");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(DialogField(texts[0], "Total number of errors"), "1");
  EXPECT_EQ(DialogField(texts[1], "Total number of errors"), "2");
  EXPECT_EQ(DialogField(texts[1], "LineNR"), std::to_string(MarkerLine(__FILE__, "null")));
}

int gCleanupFd = -1;

TEST(ErrorReporter, NoEndsWithExitCodeZeroAndSkipsTheCleanup) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild([](const ReportChannel& channel) -> int {
    gCleanupFd = channel.fd();
    // Static, so exit() would destroy it.
    static struct Marker {
      ~Marker() { ReportChannel(gCleanupFd).Send("destructor", ""); }
    } marker;
    atexit([] { ReportChannel(gCleanupFd).Send("atexit", ""); });
    RegisterAnsweredReporter(channel, {false});
    TriggerDivide();
    channel.Send("carried on", "");
    exit(3);
  });
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.Reports("text").size(), 1u);
  EXPECT_FALSE(outcome.Has("carried on"));
  EXPECT_FALSE(outcome.Has("atexit"));
  EXPECT_FALSE(outcome.Has("destructor"));
}

TEST(ErrorReporter, FaultBeforeRegistrationIsSilentButCounted) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild([](const ReportChannel& channel) {
    channel.Send("count", std::to_string(ErrorCount()));
    TriggerDivide();
    channel.Send("count", std::to_string(ErrorCount()));
    RegisterAnsweredReporter(channel, {true});
    TriggerNull();
    return kCarriedOn;
  });
  EXPECT_EQ(outcome.exitCode, kCarriedOn);
  EXPECT_EQ(outcome.Reports("count"), (std::vector<std::string>{"0", "1"}));
  const auto texts = outcome.Reports("text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(DialogField(texts[0], "Total number of errors"), "2");
}

TEST(ErrorReporter, FaultBeforeMainIsSilentButCounted) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = test::RunProgram(FAULT_PROBE_PATH);
  EXPECT_EQ(outcome.exitCode, 0);
  const std::string output = outcome.Reports("stdout").at(0);
  EXPECT_NE(output.find("count at main: 1\n"), std::string::npos) << output;
  EXPECT_NE(output.find("Total number of errors: 2"), std::string::npos) << output;
  EXPECT_NE(output.find("carried on"), std::string::npos) << output;
}

// Loads every general register but rsp and rbp, four vector registers and
// the carry flag with known values, faults on ud2, and stores them again.
__attribute__((noinline)) void FaultWithKnownRegisters() {
  asm volatile(
      "movq %%rsp, kelpie_test_stack_before(%%rip)\n\t"
      "movabsq $0x0101010101010101, %%rax\n\t"
      "movabsq $0x0202020202020202, %%rbx\n\t"
      "movabsq $0x0303030303030303, %%rcx\n\t"
      "movabsq $0x0404040404040404, %%rdx\n\t"
      "movabsq $0x0505050505050505, %%rsi\n\t"
      "movabsq $0x0606060606060606, %%rdi\n\t"
      "movabsq $0x0707070707070707, %%r8\n\t"
      "movabsq $0x0808080808080808, %%r9\n\t"
      "movabsq $0x0909090909090909, %%r10\n\t"
      "movabsq $0x0A0A0A0A0A0A0A0A, %%r11\n\t"
      "movabsq $0x0B0B0B0B0B0B0B0B, %%r12\n\t"
      "movabsq $0x0C0C0C0C0C0C0C0C, %%r13\n\t"
      "movabsq $0x0D0D0D0D0D0D0D0D, %%r14\n\t"
      "movabsq $0x0E0E0E0E0E0E0E0E, %%r15\n\t"
      "movdqu kelpie_test_vector_pattern+0(%%rip), %%xmm0\n\t"
      "movdqu kelpie_test_vector_pattern+16(%%rip), %%xmm1\n\t"
      "movdqu kelpie_test_vector_pattern+32(%%rip), %%xmm8\n\t"
      "movdqu kelpie_test_vector_pattern+48(%%rip), %%xmm15\n\t"
      "stc\n\t"
      "ud2\n\t"
      "setc kelpie_test_carry_after(%%rip)\n\t"
      "movq %%rax, kelpie_test_registers+0(%%rip)\n\t"
      "movq %%rbx, kelpie_test_registers+8(%%rip)\n\t"
      "movq %%rcx, kelpie_test_registers+16(%%rip)\n\t"
      "movq %%rdx, kelpie_test_registers+24(%%rip)\n\t"
      "movq %%rsi, kelpie_test_registers+32(%%rip)\n\t"
      "movq %%rdi, kelpie_test_registers+40(%%rip)\n\t"
      "movq %%r8, kelpie_test_registers+48(%%rip)\n\t"
      "movq %%r9, kelpie_test_registers+56(%%rip)\n\t"
      "movq %%r10, kelpie_test_registers+64(%%rip)\n\t"
      "movq %%r11, kelpie_test_registers+72(%%rip)\n\t"
      "movq %%r12, kelpie_test_registers+80(%%rip)\n\t"
      "movq %%r13, kelpie_test_registers+88(%%rip)\n\t"
      "movq %%r14, kelpie_test_registers+96(%%rip)\n\t"
      "movq %%r15, kelpie_test_registers+104(%%rip)\n\t"
      "movdqu %%xmm0, kelpie_test_vectors+0(%%rip)\n\t"
      "movdqu %%xmm1, kelpie_test_vectors+16(%%rip)\n\t"
      "movdqu %%xmm8, kelpie_test_vectors+32(%%rip)\n\t"
      "movdqu %%xmm15, kelpie_test_vectors+48(%%rip)\n\t"
      "movq %%rsp, kelpie_test_stack_after(%%rip)\n\t" ::
          : "rax", "rbx", "rcx", "rdx", "rsi", "rdi", "r8", "r9", "r10", "r11", "r12", "r13", "r14",
            "r15", "xmm0", "xmm1", "xmm8", "xmm15", "cc", "memory");
}

TEST(ErrorReporter, EveryRegisterButTheInstructionPointerSurvivesTheDialog) {
  SKIP_WITHOUT_HOOK();
  const ChildOutcome outcome = RunInChild([](const ReportChannel& channel) {
    RegisterAnsweredReporter(channel, {true});
    errno = EDOM;
    FaultWithKnownRegisters();
    const int errorNumber = errno;
    std::string registers;
    for (uint64_t value : kelpie_test_registers)
      registers += std::to_string(value / 0x0101010101010101) + " ";
    channel.Send("registers", registers);
    channel.Send("vectors", memcmp(kelpie_test_vectors, kelpie_test_vector_pattern,
                                   sizeof(kelpie_test_vectors)) == 0
                                ? "same"
                                : "changed");
    channel.Send("stack", kelpie_test_stack_before == kelpie_test_stack_after ? "same" : "moved");
    channel.Send("carry", std::to_string(kelpie_test_carry_after));
    channel.Send("errno", errorNumber == EDOM ? "same" : "changed");
    return kCarriedOn;
  });
  EXPECT_EQ(outcome.exitCode, kCarriedOn);
  ASSERT_EQ(outcome.Reports("text").size(), 1u);
  EXPECT_EQ(DialogField(outcome.Reports("text")[0], "Description"),
            "Try to execute an invalid instruction -such as MMX opcodes on a non MMX system");
  EXPECT_EQ(outcome.Reports("registers"),
            std::vector<std::string>{"1 2 3 4 5 6 7 8 9 10 11 12 13 14 "});
  EXPECT_EQ(outcome.Reports("vectors"), std::vector<std::string>{"same"});
  EXPECT_EQ(outcome.Reports("stack"), std::vector<std::string>{"same"});
  EXPECT_EQ(outcome.Reports("carry"), std::vector<std::string>{"1"});
  EXPECT_EQ(outcome.Reports("errno"), std::vector<std::string>{"same"});
}

}  // namespace
}  // namespace kelpie
