#include "compare/rebuild_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "compare/hash_behind.h"
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

// The hash runs behind the writer in pieces of its own; whatever the steps
// it is told of, it hashes each byte once and in order, and starts over
// after each Finish.
TEST(HashBehind, HashesInOrderWhateverTheSteps) {
  const std::vector<uint8_t> bytes = RandomBytes(10'000'000, 3);
  Sha256Stream whole;
  whole.Feed(bytes);
  const WholeFileHash expected = whole.Finish();
  HashBehind hasher([&](int64_t from, int64_t to, Sha256Stream& stream) {
    stream.Feed(
        std::span(bytes).subspan(static_cast<size_t>(from), static_cast<size_t>(to - from)));
  });
  const auto size = static_cast<int64_t>(bytes.size());
  for (int64_t at = 0; at < size; at += 1'234'567)
    hasher.Advance(at, 100);
  EXPECT_EQ(hasher.Finish(size), expected);
  hasher.Advance(size / 2);
  EXPECT_EQ(hasher.Finish(size), expected);
}

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

// A resumable rebuild cut off by a kill keeps what it recorded at its last
// checkpoint; whatever it wrote after that reads as zeros when taken up.
TEST(PartialFile, AKilledRebuildIsTakenUpAsFarAsItsLastCheckpoint) {
  TempDir dir;
  const std::string local = (dir.path() / "local").string();
  const std::vector<uint8_t> peer = RandomBytes(3 * kMiB, 7);
  const PartialIdentity identity{std::ssize(peer), Sha256(peer)};
  const auto part = [&](int64_t from, int64_t len) {
    return std::span(peer).subspan(static_cast<size_t>(from), static_cast<size_t>(len));
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RebuildFile::ResumeNote note;
    auto rebuilt = RebuildFile::Resume(local, identity, note);
    if (!rebuilt || note.kind != RebuildFile::ResumeNote::kFresh) ::_exit(1);
    rebuilt->Write(0, part(0, kMiB));
    rebuilt->WriteZeros(2 * kMiB, 10);
    rebuilt->Checkpoint();
    rebuilt->Write(kMiB, part(kMiB, 5000));
    ::_exit(0);  // as a kill: no destructor runs
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  RebuildFile::ResumeNote note;
  auto rebuilt = RebuildFile::Resume(local, identity, note);
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(note.kind, RebuildFile::ResumeNote::kResumed);
  EXPECT_EQ(note.path, (dir.path() / ".local.kelpie-partial").string());
  EXPECT_EQ(note.heldBytes, kMiB + 10);
  EXPECT_EQ(rebuilt->HeldUpTo(0), kMiB);
  EXPECT_EQ(rebuilt->NextHeld(kMiB), 2 * kMiB);
  EXPECT_EQ(rebuilt->HeldUpTo(2 * kMiB), 2 * kMiB + 10);
  EXPECT_TRUE(std::ranges::equal(rebuilt->bytes().first(kMiB), part(0, kMiB)));
  EXPECT_TRUE(
      std::ranges::all_of(rebuilt->bytes().subspan(kMiB, 5000), [](uint8_t b) { return b == 0; }));
  rebuilt->Write(kMiB, part(kMiB, 2 * kMiB));
  rebuilt->Filled(rebuilt->size());
  EXPECT_EQ(rebuilt->Sha256(), identity.hash);
  rebuilt->Discard();
  const std::string target = (dir.path() / "saved").string();
  ASSERT_EQ(rebuilt->SaveAs(target), SaveResult::kSaved);
  rebuilt.reset();
  EXPECT_EQ(ReadFileBytes(target), peer);
  EXPECT_FALSE(std::filesystem::exists(note.path));
}

// A partial file left for other content, or one whose record is damaged, is
// started afresh; one that is dropped unsaved but discarded is not left.
TEST(PartialFile, OneThatDoesNotFitIsDiscarded) {
  TempDir dir;
  const std::string local = (dir.path() / "local").string();
  const std::vector<uint8_t> peer = RandomBytes(100000, 8);
  const PartialIdentity identity{std::ssize(peer), Sha256(peer)};
  RebuildFile::ResumeNote note;
  RebuildFile::Resume(local, identity, note)->Write(0, std::span(peer).first(50000));
  ASSERT_TRUE(std::filesystem::exists(note.path));
  PartialIdentity other = identity;
  other.hash[0] ^= 1;
  auto rebuilt = RebuildFile::Resume(local, other, note);
  EXPECT_EQ(note.kind, RebuildFile::ResumeNote::kDiscarded);
  EXPECT_EQ(rebuilt->HeldUpTo(0), 0);
  EXPECT_TRUE(std::ranges::all_of(rebuilt->bytes(), [](uint8_t b) { return b == 0; }));
  rebuilt->Write(0, std::span(peer).first(10));
  rebuilt.reset();
  {
    std::fstream file(note.path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(-30, std::ios::end);
    file.put('x');
  }
  rebuilt = RebuildFile::Resume(local, other, note);
  EXPECT_EQ(note.kind, RebuildFile::ResumeNote::kDiscarded);
  rebuilt->Discard();
  rebuilt.reset();
  EXPECT_FALSE(std::filesystem::exists(note.path));
}

}  // namespace
}  // namespace kelpie
