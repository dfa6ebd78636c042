#pragma once

#include <cstdint>
#include <span>

namespace kelpie {

// Longest x86-64 instruction.
inline constexpr size_t kMaxInstructionLength = 15;

struct DecodedInstruction {
  uint8_t length = 0;       // 0 when the bytes do not start a valid instruction
  bool privileged = false;  // needs ring 0 or I/O rights (hlt, cli, in, out, mov crN...)
};

// Decodes single x86-64 instructions with Capstone. Open() allocates
// everything up front, so Decode() does not allocate and may run inside a
// signal handler; one Decode() runs at a time per decoder.
class InstructionDecoder {
 public:
  InstructionDecoder() = default;
  ~InstructionDecoder();
  InstructionDecoder(const InstructionDecoder&) = delete;
  InstructionDecoder& operator=(const InstructionDecoder&) = delete;

  bool Open();
  DecodedInstruction Decode(std::span<const uint8_t> bytes, uint64_t address) const;

 private:
  void Close();

  size_t handle_ = 0;            // csh
  void* instruction_ = nullptr;  // cs_insn scratch for cs_disasm_iter
};

}  // namespace kelpie
