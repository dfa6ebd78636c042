#include "compare/rebuild_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::ReadFileBytes;
using test::TempDir;

// Pieces stored in order, with the prefix declared final after each.
struct Piece {
  int64_t offset;
  int64_t len;
  bool zeros;
};

struct RebuildCase {
  const char* name;
  bool onDisk;
  std::vector<Piece> pieces;
};

class Rebuild : public ::testing::TestWithParam<RebuildCase> {};

// Whatever the pieces, alignment and holes, the hash made while filling is
// the hash of the bytes, and the saved file holds them.
TEST_P(Rebuild, HashesAndSavesWhatWasStored) {
  const RebuildCase& c = GetParam();
  TempDir dir;
  const int64_t size = c.pieces.back().offset + c.pieces.back().len;
  auto rebuilt = RebuildFile::Create(c.onDisk ? (dir.path() / "local").string() : "", size, true);
  ASSERT_NE(rebuilt, nullptr);
  std::vector<uint8_t> expected(static_cast<size_t>(size), 0);
  uint32_t seed = 1;
  for (const Piece& p : c.pieces) {
    std::vector<uint8_t> bytes(static_cast<size_t>(p.len), 0);
    if (!p.zeros) bytes = RandomBytes(static_cast<size_t>(p.len), seed++);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + p.offset);
    rebuilt->Write(p.offset, bytes);
    rebuilt->Filled(p.offset + p.len);
  }
  EXPECT_EQ(rebuilt->Sha256(), Sha256(expected));
  const std::string target = (dir.path() / "saved").string();
  ASSERT_EQ(rebuilt->SaveAs(target), SaveResult::kSaved);
  EXPECT_EQ(ReadFileBytes(target), expected);
  rebuilt.reset();
  // Only the saved file is left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

constexpr int64_t kMiB = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Cases, Rebuild,
    ::testing::Values(
        RebuildCase{"Dense", true, {{0, 5000, false}, {5000, 3 * kMiB, false}}},
        RebuildCase{"HoleInTheMiddle",
                    true,
                    {{0, 100, false}, {100, 3 * kMiB, true}, {3 * kMiB + 100, 7, false}}},
        RebuildCase{
            "UnalignedZeros", true, {{0, 4095, true}, {4095, 2, false}, {4097, 9000, true}}},
        RebuildCase{"AllZeros", true, {{0, 2 * kMiB + 1, true}}},
        RebuildCase{"InMemory",
                    false,
                    {{0, 100, false}, {100, 2 * kMiB, true}, {2 * kMiB + 100, 50, false}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RebuildFileHoles, PagesOfZerosTakeNoDiskSpace) {
  TempDir dir;
  auto rebuilt = RebuildFile::Create((dir.path() / "local").string(), 64 * kMiB);
  ASSERT_NE(rebuilt, nullptr);
  std::vector<uint8_t> piece = RandomBytes(kMiB, 3);
  std::fill(piece.begin() + 4096, piece.end() - 4096, 0);
  rebuilt->Write(10 * kMiB, piece);
  const std::string target = (dir.path() / "saved").string();
  ASSERT_EQ(rebuilt->SaveAs(target), SaveResult::kSaved);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 64 * kMiB);
  EXPECT_LE(info.st_blocks * 512, 64 * 1024);
}

}  // namespace
}  // namespace kelpie
