// Finding the program statement behind a fault.
//
// The process's own modules are reported to libdwfl from /proc/self/maps.
// A thread-state backend of our own hands libdwfl the registers saved at the
// fault and reads stack words through process_vm_readv, so libdwfl's CFI
// unwinder can walk from the faulting instruction outwards without ptrace.
// For each frame the address is looked up in the line table of its
// compilation unit; when that line belongs to a library header (inlined
// std::copy, say) the chain of inlined-call sites is followed outwards until
// a file of the program appears. The first frame that yields one wins.
#include "app/fault/source_locator.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "app/fault/fault_codes.h"
#include "app/fault/own_memory.h"

namespace kelpie {
namespace {

// Enough to leave any chain of library frames; a runaway recursion in the
// program is found at its first frame anyway.
constexpr int kMaxFrames = 256;

struct Search {
  DwarfRegisters registers{};
  pid_t tid = 0;
  std::string_view sourceRoot;
  int framesLeft = kMaxFrames;
  std::optional<SourceLocation> found;
};

std::optional<SourceLocation> Classify(const char* file, Dwarf_Word line, std::string_view root) {
  if (file == nullptr || line == 0) return std::nullopt;
  const auto module = ModuleOfFile(file, root);
  if (!module) return std::nullopt;
  return SourceLocation{*module, static_cast<int32_t>(line) - 1};
}

// The call site of an inlined subroutine, as a file name and line.
std::optional<SourceLocation> CallSite(Dwarf_Die* cu, Dwarf_Die* inlined, std::string_view root) {
  Dwarf_Attribute attribute;
  Dwarf_Word fileIndex = 0;
  Dwarf_Word line = 0;
  if (dwarf_formudata(dwarf_attr(inlined, DW_AT_call_file, &attribute), &fileIndex) != 0 ||
      dwarf_formudata(dwarf_attr(inlined, DW_AT_call_line, &attribute), &line) != 0) {
    return std::nullopt;
  }
  Dwarf_Files* files = nullptr;
  size_t count = 0;
  if (dwarf_getsrcfiles(cu, &files, &count) != 0 || fileIndex >= count) return std::nullopt;
  return Classify(dwarf_filesrc(files, fileIndex, nullptr, nullptr), line, root);
}

std::optional<SourceLocation> LocateAddress(Dwfl_Module* module, Dwarf_Addr pc,
                                            std::string_view root) {
  Dwarf_Addr bias = 0;
  Dwarf_Die* cu = module != nullptr ? dwfl_module_addrdie(module, pc, &bias) : nullptr;
  if (cu == nullptr) return std::nullopt;
  if (Dwarf_Line* row = dwarf_getsrc_die(cu, pc - bias)) {
    int line = 0;
    if (dwarf_lineno(row, &line) == 0 && line > 0) {
      if (auto own = Classify(dwarf_linesrc(row, nullptr, nullptr), line, root)) return own;
    }
  }
  // dwarf_getscopes leaves an inlined instance for its abstract origin, so
  // only its innermost scope is used; dwarf_getscopes_die then gives the
  // physical nesting, every enclosing inlined call included.
  Dwarf_Die* scopes = nullptr;
  if (dwarf_getscopes(cu, pc - bias, &scopes) <= 0) return std::nullopt;
  Dwarf_Die innermost = scopes[0];
  free(scopes);
  scopes = nullptr;
  const int depth = dwarf_getscopes_die(&innermost, &scopes);
  std::optional<SourceLocation> found;
  for (int i = 0; i < depth && !found; ++i) {
    if (dwarf_tag(&scopes[i]) == DW_TAG_inlined_subroutine) found = CallSite(cu, &scopes[i], root);
  }
  free(scopes);
  return found;
}

pid_t NextThread(Dwfl*, void* arg, void** threadArg) {
  if (*threadArg != nullptr) return 0;
  *threadArg = arg;
  return static_cast<Search*>(arg)->tid;
}

bool GetThread(Dwfl*, pid_t tid, void* arg, void** threadArg) {
  *threadArg = arg;
  return tid == static_cast<Search*>(arg)->tid;
}

bool ReadWord(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void*) {
  return ReadOwnMemory(address, result, sizeof(*result)) == sizeof(*result);
}

bool SetInitialRegisters(Dwfl_Thread* thread, void* threadArg) {
  const auto& registers = static_cast<Search*>(threadArg)->registers;
  return dwfl_thread_state_registers(thread, 0, registers.size(), registers.data());
}

const Dwfl_Thread_Callbacks kThreadCallbacks = {
    NextThread, GetThread, ReadWord, SetInitialRegisters, nullptr, nullptr,
};

// Debug information is taken only from the loaded files themselves: a
// library without it is walked through by its CFI, and nothing is fetched
// from elsewhere (no debuginfod lookups while a fault dialog waits).
int NoSeparateDebugInfo(Dwfl_Module*, void**, const char*, Dwarf_Addr, const char*, const char*,
                        GElf_Word, char**) {
  return -1;
}

const Dwfl_Callbacks kCallbacks = {
    dwfl_linux_proc_find_elf,
    NoSeparateDebugInfo,
    nullptr,
    nullptr,
};

int VisitFrame(Dwfl_Frame* frame, void* arg) {
  auto* search = static_cast<Search*>(arg);
  Dwarf_Addr pc = 0;
  bool activation = false;
  if (!dwfl_frame_pc(frame, &pc, &activation)) return DWARF_CB_ABORT;
  // A return address points past the call; step back into it.
  if (!activation) --pc;
  Dwfl* dwfl = dwfl_thread_dwfl(dwfl_frame_thread(frame));
  search->found = LocateAddress(dwfl_addrmodule(dwfl, pc), pc, search->sourceRoot);
  if (search->found || --search->framesLeft == 0) return DWARF_CB_ABORT;
  return DWARF_CB_OK;
}

}  // namespace

SourceLocation LocateStatement(const DwarfRegisters& registers, pid_t tid,
                               std::string_view sourceRoot) {
  Search search;
  search.registers = registers;
  search.tid = tid;
  search.sourceRoot = sourceRoot;
  Dwfl* dwfl = dwfl_begin(&kCallbacks);
  if (dwfl == nullptr) return {};
  const pid_t pid = getpid();
  if (dwfl_linux_proc_report(dwfl, pid) == 0 && dwfl_report_end(dwfl, nullptr, nullptr) == 0 &&
      dwfl_attach_state(dwfl, nullptr, pid, &kThreadCallbacks, &search)) {
    dwfl_getthread_frames(dwfl, tid, VisitFrame, &search);
  }
  dwfl_end(dwfl);
  return search.found.value_or(SourceLocation{});
}

}  // namespace kelpie
