#include "app/fault/instruction_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelpie {
namespace {

struct InstructionCase {
  const char* name;
  std::vector<uint8_t> bytes;
  uint8_t length;
  bool privileged;
};

class Instructions : public ::testing::TestWithParam<InstructionCase> {};

TEST_P(Instructions, DecodeToTheirLength) {
  InstructionDecoder decoder;
  ASSERT_TRUE(decoder.Open());
  std::vector<uint8_t> bytes = GetParam().bytes;
  bytes.resize(kMaxInstructionLength, 0x90);  // what follows the instruction
  const DecodedInstruction decoded = decoder.Decode(bytes, 0x401000);
  EXPECT_EQ(decoded.length, GetParam().length);
  EXPECT_EQ(decoded.privileged, GetParam().privileged);
}

INSTANTIATE_TEST_SUITE_P(
    X86_64, Instructions,
    ::testing::Values(
        InstructionCase{"IdivEcx", {0xF7, 0xF9}, 2, false},
        InstructionCase{"IdivRipRelative", {0xF7, 0x3D, 0x10, 0x20, 0x30, 0x40}, 6, false},
        InstructionCase{"MovFromRaxPointer", {0x8B, 0x00}, 2, false},
        InstructionCase{"MovWithSibAndDisp32", {0x48, 0x8B, 0x84, 0x24, 0, 1, 0, 0}, 8, false},
        InstructionCase{"Movabs", {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}, 10, false},
        InstructionCase{"VmovdquYmm", {0xC5, 0xFE, 0x6F, 0x06}, 4, false},
        InstructionCase{"Evex", {0x62, 0xF1, 0xFE, 0x48, 0x6F, 0x06}, 6, false},
        InstructionCase{"RepMovsb", {0xF3, 0xA4}, 2, false},
        InstructionCase{"Ud2", {0x0F, 0x0B}, 2, false}, InstructionCase{"Hlt", {0xF4}, 1, true},
        InstructionCase{"Cli", {0xFA}, 1, true},
        InstructionCase{"InFromPort", {0xE4, 0x60}, 2, true},
        InstructionCase{"OutToDx", {0xEE}, 1, true},
        InstructionCase{"MovToCr0", {0x0F, 0x22, 0xC0}, 3, true},
        // Opcodes that do not exist in 64-bit mode.
        InstructionCase{"PushEs", {0x06}, 0, false}, InstructionCase{"Aaa", {0x37}, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstructionDecoder, RefusesBytesCutShortAndDecodesNothingUnopened) {
  InstructionDecoder decoder;
  const std::vector<uint8_t> movabsHead = {0x48, 0xB8, 1, 2, 3};
  EXPECT_EQ(decoder.Decode(movabsHead, 0).length, 0);
  ASSERT_TRUE(decoder.Open());
  EXPECT_EQ(decoder.Decode(movabsHead, 0).length, 0);
  EXPECT_EQ(decoder.Decode({}, 0).length, 0);
}

}  // namespace
}  // namespace kelpie
