// The process-wide fault hook.
//
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP are caught on an alternate
// signal stack, so a thread that ran out of stack is still handled. The
// handler records the fault, decodes the length of the faulting instruction
// and moves the instruction pointer past it; nothing else in the register
// context changes.
//
// Without a registered callback that is all: the program goes on silently.
// With one, the dialog must not run inside the signal handler (it allocates,
// takes locks, runs an event loop). The handler therefore saves the whole
// context (general registers, the x87/SSE/AVX state, the signal mask, errno)
// and returns into ShowDialogThenResume on a stack of its own. That function
// runs as ordinary code: it finds the source statement, calls the callback,
// then raises the resume signal, whose handler copies the saved context over
// its own. Returning from that handler lands exactly at the resumption point
// with every register as it was at the fault.
#include "app/fault/fault_hook.h"

#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/fault/instruction_decoder.h"
#include "app/fault/own_memory.h"
#include "app/fault/source_locator.h"

namespace kelpie {
namespace {

constexpr std::array<int, 5> kFaultSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr size_t kAltStackSize = 256 * 1024;
// The dialog runs a nested GUI event loop; give it what a thread would get.
constexpr size_t kDialogStackSize = 8 * 1024 * 1024;
constexpr size_t kGuardSize = 4096;
// A SIGSEGV this close to the stack pointer is the stack running out.
constexpr uint64_t kStackReach = 64 * 1024;
// Room for the XSAVE image of the signal frame (AVX-512 needs about 2.7 KiB).
constexpr size_t kMaxFpState = 16 * 1024;
constexpr size_t kLegacyFpRegisters = 464;  // the FXSAVE area before its software bytes
constexpr greg_t kTrapFlag = 0x100;
constexpr greg_t kDirectionFlag = 0x400;
constexpr greg_t kAlignmentCheckFlag = 0x40000;

struct SavedContext {
  gregset_t registers;
  sigset_t mask;
  int errorNumber;
  size_t fpSize;
  alignas(64) uint8_t fpState[kMaxFpState];
};

struct HookState {
  InstructionDecoder decoder;
  std::atomic_flag decoding = ATOMIC_FLAG_INIT;
  std::array<struct sigaction, kFaultSignals.size()> previous{};
  struct sigaction previousResume {};
  int resumeSignal = 0;
  bool installed = false;

  std::atomic<uint32_t> code{kNoFault};
  std::atomic<uint64_t> address{0};
  std::atomic<int32_t> module{kMainModule};
  std::atomic<int32_t> line{-1};
  std::atomic<int32_t> count{0};

  std::atomic<FaultCallback> callback{nullptr};
  std::atomic<pid_t> dialogThread{0};
  uint8_t* dialogStackTop = nullptr;
  std::atomic<bool> dialogActive{false};
  std::atomic<bool> resumePending{false};
  DwarfRegisters faultRegisters{};
  SavedContext saved{};
};

// Created by the start-up constructor and kept for the life of the process:
// a signal may arrive during exit, after static objects are gone.
HookState* gHook = nullptr;

struct FaultSite {
  uint64_t address = 0;  // the faulting instruction
  uint64_t resume = 0;   // where the program goes on
  bool privileged = false;
};

DecodedInstruction DecodeAt(HookState& hook, uint64_t address) {
  std::array<uint8_t, kMaxInstructionLength> bytes{};
  const size_t readable = ReadOwnMemory(address, bytes.data(), bytes.size());
  // Two threads may fault at once; the decoder's scratch is shared.
  while (hook.decoding.test_and_set(std::memory_order_acquire)) {
  }
  const DecodedInstruction decoded = hook.decoder.Decode({bytes.data(), readable}, address);
  hook.decoding.clear(std::memory_order_release);
  return decoded;
}

// int3 reports the address after itself; find the breakpoint instruction
// (0xCC, or the two-byte form CD 03).
uint64_t BreakpointAddress(uint64_t rip) {
  uint8_t last = 0;
  uint8_t first = 0;
  if (ReadOwnMemory(rip - 1, &last, 1) != 1) return rip;
  if (last == 0xCC) return rip - 1;
  if (last == 0x03 && ReadOwnMemory(rip - 2, &first, 1) == 1 && first == 0xCD) return rip - 2;
  return rip;
}

std::optional<FaultSite> FindFaultSite(HookState& hook, int signal, const siginfo_t& info,
                                       uint64_t rip) {
  // Sent by kill() or raise(): no instruction failed, the call has returned.
  if (info.si_code <= 0) return FaultSite{rip, rip, false};
  // Traps are reported after their instruction has completed.
  if (signal == SIGTRAP) {
    const bool breakpoint = info.si_code != TRAP_TRACE && info.si_code != TRAP_HWBKPT;
    return FaultSite{breakpoint ? BreakpointAddress(rip) : rip, rip, false};
  }
  const DecodedInstruction instruction = DecodeAt(hook, rip);
  if (instruction.length == 0) return std::nullopt;
  return FaultSite{rip, rip + instruction.length, instruction.privileged};
}

bool NearStackPointer(int signal, const siginfo_t& info, uint64_t rsp) {
  // si_addr means nothing for a general protection fault or a sent signal.
  if (signal != SIGSEGV || info.si_code <= 0 || info.si_code == SI_KERNEL) return false;
  const auto address = reinterpret_cast<uint64_t>(info.si_addr);
  const uint64_t distance = address > rsp ? address - rsp : rsp - address;
  return distance <= kStackReach;
}

// No resumption point (the instruction cannot be read or decoded): let the
// previous handling take the fault when the instruction runs again.
void StandAside(HookState& hook, int signal) {
  for (size_t i = 0; i < kFaultSignals.size(); ++i) {
    if (kFaultSignals[i] == signal) sigaction(signal, &hook.previous[i], nullptr);
  }
}

DwarfRegisters ToDwarfOrder(const greg_t* registers, uint64_t pc) {
  return {static_cast<uint64_t>(registers[REG_RAX]),
          static_cast<uint64_t>(registers[REG_RDX]),
          static_cast<uint64_t>(registers[REG_RCX]),
          static_cast<uint64_t>(registers[REG_RBX]),
          static_cast<uint64_t>(registers[REG_RSI]),
          static_cast<uint64_t>(registers[REG_RDI]),
          static_cast<uint64_t>(registers[REG_RBP]),
          static_cast<uint64_t>(registers[REG_RSP]),
          static_cast<uint64_t>(registers[REG_R8]),
          static_cast<uint64_t>(registers[REG_R9]),
          static_cast<uint64_t>(registers[REG_R10]),
          static_cast<uint64_t>(registers[REG_R11]),
          static_cast<uint64_t>(registers[REG_R12]),
          static_cast<uint64_t>(registers[REG_R13]),
          static_cast<uint64_t>(registers[REG_R14]),
          static_cast<uint64_t>(registers[REG_R15]),
          pc};
}

// Bytes of the floating-point image a signal frame holds: the XSAVE area
// when the kernel marked it so, else the plain FXSAVE area.
size_t FpStateSize(const _libc_fpstate* fp) {
  if (fp == nullptr) return 0;
  _fpx_sw_bytes software;
  std::memcpy(&software, reinterpret_cast<const uint8_t*>(fp) + kLegacyFpRegisters,
              sizeof(software));
  if (software.magic1 == FP_XSTATE_MAGIC1) return software.extended_size;
  return sizeof(_libc_fpstate);
}

void SaveContext(HookState& hook, const ucontext_t& context, uint64_t faultAddress,
                 int errorNumber) {
  SavedContext& saved = hook.saved;
  std::memcpy(saved.registers, context.uc_mcontext.gregs, sizeof(saved.registers));
  saved.mask = context.uc_sigmask;
  saved.errorNumber = errorNumber;
  const size_t size = FpStateSize(context.uc_mcontext.fpregs);
  saved.fpSize = size <= kMaxFpState ? size : kLegacyFpRegisters;
  if (saved.fpSize > 0) std::memcpy(saved.fpState, context.uc_mcontext.fpregs, saved.fpSize);
  hook.faultRegisters = ToDwarfOrder(context.uc_mcontext.gregs, faultAddress);
}

void RestoreContext(const SavedContext& saved, ucontext_t& context) {
  std::memcpy(context.uc_mcontext.gregs, saved.registers, sizeof(saved.registers));
  context.uc_sigmask = saved.mask;
  _libc_fpstate* fp = context.uc_mcontext.fpregs;
  if (fp != nullptr && saved.fpSize > 0) {
    // Both frames come from the same kernel and CPU and share one layout;
    // should they not, the registers alone are put back.
    const size_t size = FpStateSize(fp) == saved.fpSize ? saved.fpSize : kLegacyFpRegisters;
    std::memcpy(fp, saved.fpState, size);
  }
}

[[noreturn]] void ShowDialogThenResume();

// Returns from the signal into ShowDialogThenResume on the dialog stack, with
// a clean floating-point environment and flags the ABI expects at a call.
void RedirectToDialog(HookState& hook, ucontext_t& context) {
  greg_t* registers = context.uc_mcontext.gregs;
  registers[REG_RIP] = reinterpret_cast<greg_t>(&ShowDialogThenResume);
  // As if just called: the return-address slot leaves rsp 8 off 16-byte alignment.
  registers[REG_RSP] = reinterpret_cast<greg_t>(hook.dialogStackTop) - 8;
  registers[REG_RBP] = 0;
  registers[REG_EFL] &= ~(kTrapFlag | kDirectionFlag | kAlignmentCheckFlag);
  if (_libc_fpstate* fp = context.uc_mcontext.fpregs) {
    fp->cwd = 0x037F;
    fp->swd = 0;
    fp->ftw = 0;
    fp->mxcsr = 0x1F80;
  }
}

bool ClaimDialog(HookState& hook) {
  if (hook.callback.load() == nullptr || hook.dialogStackTop == nullptr) return false;
  if (gettid() != hook.dialogThread.load()) return false;
  // A fault while a dialog is open (in the dialog's own code) stays silent.
  return !hook.dialogActive.exchange(true);
}

void OnFault(int signal, siginfo_t* info, void* raw) {
  HookState& hook = *gHook;
  auto& context = *static_cast<ucontext_t*>(raw);
  greg_t* registers = context.uc_mcontext.gregs;
  const auto rip = static_cast<uint64_t>(registers[REG_RIP]);
  const int errorNumber = errno;
  const std::optional<FaultSite> site = FindFaultSite(hook, signal, *info, rip);
  if (!site) {
    StandAside(hook, signal);
    return;
  }
  const bool nearStack = NearStackPointer(signal, *info, registers[REG_RSP]);
  hook.code = FaultCodeFor({signal, info->si_code, nearStack, site->privileged});
  hook.address = site->address;
  hook.module = kMainModule;
  hook.line = -1;
  hook.count.fetch_add(1);
  registers[REG_RIP] = static_cast<greg_t>(site->resume);
  if (ClaimDialog(hook)) {
    SaveContext(hook, context, site->address, errorNumber);
    RedirectToDialog(hook, context);
  }
  errno = errorNumber;
}

void OnResume(int, siginfo_t* info, void* raw) {
  HookState& hook = *gHook;
  if (!hook.resumePending.load() || info->si_code != SI_TKILL || info->si_pid != getpid()) return;
  RestoreContext(hook.saved, *static_cast<ucontext_t*>(raw));
  errno = hook.saved.errorNumber;
  hook.resumePending = false;
  hook.dialogActive = false;
}

void ShowDialogThenResume() {
  HookState& hook = *gHook;
  const SourceLocation where = LocateStatement(hook.faultRegisters, gettid(), KELPIE_SOURCE_ROOT);
  hook.module = where.module != 0 ? where.module : kMainModule;
  hook.line = where.line;
  if (const FaultCallback callback = hook.callback.load()) callback();

  hook.resumePending = true;
  sigset_t resume;
  sigemptyset(&resume);
  sigaddset(&resume, hook.resumeSignal);
  pthread_sigmask(SIG_UNBLOCK, &resume, nullptr);
  syscall(SYS_tgkill, getpid(), gettid(), hook.resumeSignal);
  abort();  // not reached: the resume handler returns into the saved context
}

void* MapStack(size_t size) {
  void* memory = mmap(nullptr, size + kGuardSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  mprotect(memory, kGuardSize, PROT_NONE);  // an overflow of this stack faults at once
  return static_cast<uint8_t*>(memory) + kGuardSize;
}

bool Install(HookState& hook) {
  if (!hook.decoder.Open()) return false;
  void* altStack = MapStack(kAltStackSize);
  if (altStack == nullptr) return false;
  const stack_t stack = {altStack, 0, kAltStackSize};
  if (sigaltstack(&stack, nullptr) != 0) return false;
  // A real-time signal no other part of the program uses.
  hook.resumeSignal = SIGRTMAX - 2;

  struct sigaction action {};
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFaultSignals)
    sigaddset(&action.sa_mask, signal);
  sigaddset(&action.sa_mask, hook.resumeSignal);
  action.sa_sigaction = OnResume;
  sigaction(hook.resumeSignal, &action, &hook.previousResume);
  action.sa_sigaction = OnFault;
  for (size_t i = 0; i < kFaultSignals.size(); ++i) {
    sigaction(kFaultSignals[i], &action, &hook.previous[i]);
  }
  hook.installed = true;
  return true;
}

#ifdef KELPIE_SANITIZE
// The sanitizers catch faults themselves and say far more about them.
constexpr bool kLeaveFaultsToSanitizer = true;
#else
constexpr bool kLeaveFaultsToSanitizer = false;
#endif

// Runs before the program's own static initialisers and before main.
__attribute__((constructor(101))) void InstallAtStart() {
  if (kLeaveFaultsToSanitizer) return;
  gHook = new HookState;
  Install(*gHook);
}

__attribute__((destructor(101))) void RemoveAtEnd() {
  RemoveFaultHook();
}

}  // namespace

bool FaultHookInstalled() {
  return gHook != nullptr && gHook->installed;
}

FaultRecord LastFault() {
  if (gHook == nullptr) return {};
  return {gHook->code.load(), gHook->address.load(), gHook->module.load(), gHook->line.load(),
          gHook->count.load()};
}

void SetFaultCallback(FaultCallback callback) {
  if (!FaultHookInstalled()) return;
  HookState& hook = *gHook;
  if (hook.dialogStackTop == nullptr) {
    if (auto* stack = static_cast<uint8_t*>(MapStack(kDialogStackSize))) {
      hook.dialogStackTop = stack + kDialogStackSize;
    }
  }
  hook.dialogThread = gettid();
  hook.callback = callback;
}

void RemoveFaultHook() {
  if (!FaultHookInstalled()) return;
  HookState& hook = *gHook;
  for (size_t i = 0; i < kFaultSignals.size(); ++i) {
    sigaction(kFaultSignals[i], &hook.previous[i], nullptr);
  }
  sigaction(hook.resumeSignal, &hook.previousResume, nullptr);
  hook.installed = false;
}

}  // namespace kelpie
