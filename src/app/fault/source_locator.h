#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string_view>

namespace kelpie {

// Registers of a stopped thread in DWARF order for x86-64: rax, rdx, rcx,
// rbx, rsi, rdi, rbp, rsp, r8 to r15, then the instruction pointer.
using DwarfRegisters = std::array<uint64_t, 17>;

struct SourceLocation {
  int32_t module = 0;  // kMainModule or kFrameModule; 0 when nothing was found
  int32_t line = -1;   // counted from 0
};

// The program statement that was executing in the thread tid whose registers
// are given: the innermost frame whose debug information points into a file
// under sourceRoot. Frames in libraries (libc's memcpy, say) are walked
// through to their callers; inlined library code resolves to the program
// line it was inlined into. Reads the stack through ReadOwnMemory, so a
// damaged stack ends the search instead of faulting. Allocates: never call it
// inside a signal handler.
SourceLocation LocateStatement(const DwarfRegisters& registers, pid_t tid,
                               std::string_view sourceRoot);

}  // namespace kelpie
