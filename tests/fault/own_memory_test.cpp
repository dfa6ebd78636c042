#include "app/fault/own_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>

namespace kelpie {
namespace {

TEST(ReadOwnMemory, StopsAtAnUnreadablePage) {
  auto* pages = static_cast<uint8_t*>(
      mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + 4096, 4096, PROT_NONE), 0);
  for (int i = 0; i < 16; ++i)
    pages[4096 - 16 + i] = static_cast<uint8_t>(i + 1);
  uint8_t copy[32] = {};
  const auto address = reinterpret_cast<uint64_t>(pages + 4096 - 16);
  EXPECT_EQ(ReadOwnMemory(address, copy, sizeof(copy)), 16u);
  EXPECT_EQ(copy[0], 1);
  EXPECT_EQ(copy[15], 16);
  EXPECT_EQ(ReadOwnMemory(address + 16, copy, 8), 0u);
  EXPECT_EQ(ReadOwnMemory(0, copy, 8), 0u);
  munmap(pages, 8192);
}

}  // namespace
}  // namespace kelpie
