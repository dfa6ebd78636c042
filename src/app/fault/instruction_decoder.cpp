#include "app/fault/instruction_decoder.h"

#include <capstone/capstone.h>

#include <algorithm>
#include <array>

namespace kelpie {
namespace {

// Instructions that fault outside ring 0 or without I/O rights but that
// Capstone does not put in its privileged group.
constexpr std::array<unsigned, 10> kAlsoPrivileged = {
    X86_INS_IN,    X86_INS_OUT,   X86_INS_INSB,  X86_INS_INSW,  X86_INS_INSD,
    X86_INS_OUTSB, X86_INS_OUTSW, X86_INS_OUTSD, X86_INS_RDMSR, X86_INS_CLTS,
};

}  // namespace

InstructionDecoder::~InstructionDecoder() {
  Close();
}

bool InstructionDecoder::Open() {
  Close();
  csh handle = 0;
  if (cs_open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK) return false;
  handle_ = handle;
  // Details carry the instruction groups that tell privileged instructions.
  cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
  instruction_ = cs_malloc(handle);
  if (instruction_ == nullptr) Close();
  return instruction_ != nullptr;
}

void InstructionDecoder::Close() {
  if (instruction_ != nullptr) cs_free(static_cast<cs_insn*>(instruction_), 1);
  instruction_ = nullptr;
  if (handle_ != 0) {
    csh handle = handle_;
    cs_close(&handle);
  }
  handle_ = 0;
}

DecodedInstruction InstructionDecoder::Decode(std::span<const uint8_t> bytes,
                                              uint64_t address) const {
  if (instruction_ == nullptr) return {};
  auto* insn = static_cast<cs_insn*>(instruction_);
  const uint8_t* code = bytes.data();
  size_t size = std::min(bytes.size(), kMaxInstructionLength);
  if (!cs_disasm_iter(handle_, &code, &size, &address, insn)) return {};
  DecodedInstruction decoded;
  decoded.length = static_cast<uint8_t>(insn->size);
  decoded.privileged =
      cs_insn_group(handle_, insn, CS_GRP_PRIVILEGE) ||
      std::find(kAlsoPrivileged.begin(), kAlsoPrivileged.end(), insn->id) != kAlsoPrivileged.end();
  return decoded;
}

}  // namespace kelpie
