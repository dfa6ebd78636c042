#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_fd.h"
#include "compare/engine.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::RunPasses;
using test::RunUntil;
using test::TempDir;
using test::TestPeer;
using Island = std::pair<int64_t, std::vector<uint8_t>>;

constexpr int64_t kGiB = int64_t{1} << 30;
// Past every 32-bit boundary: signed and unsigned sizes and offsets.
constexpr int64_t kSize = 4 * kGiB + 12345;

// A sparse file of kSize bytes: zeros, with these islands written.
std::string SparseFile(const TempDir& dir, const std::string& name,
                       const std::vector<Island>& islands) {
  const std::string path = (dir.path() / name).string();
  UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  EXPECT_TRUE(file.valid());
  EXPECT_EQ(::ftruncate(file.get(), kSize), 0);
  for (const auto& [offset, bytes] : islands)
    EXPECT_EQ(::pwrite(file.get(), bytes.data(), bytes.size(), offset), std::ssize(bytes));
  return path;
}

std::vector<uint8_t> ReadAt(const std::string& path, int64_t offset, size_t len) {
  std::vector<uint8_t> bytes(len);
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (::pread(file.get(), bytes.data(), len, offset) != static_cast<ssize_t>(len)) return {};
  return bytes;
}

int64_t DiskBytes(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? int64_t{info.st_blocks} * 512 : -1;
}

// One server holding a file of more than 4 GiB, and a version-2 client that
// rebuilds it from an older copy; a version-1 client never sees it listed.
TEST(LargeFile, RebuiltBetweenVersion2ProgramsAndHiddenFromVersion1) {
#ifdef KELPIE_SANITIZE
  GTEST_SKIP() << "8 GiB of content is minutes of work under the sanitizers";
#endif
  TempDir dir;
  const std::vector<Island> peerIslands = {{100, RandomBytes(9000, 1)},
                                           {2 * kGiB - 3000, RandomBytes(7000, 2)},
                                           {4 * kGiB + 50, RandomBytes(4000, 3)},
                                           {kSize - 5000, RandomBytes(5000, 4)}};
  std::vector<Island> localIslands = peerIslands;
  localIslands[2].second = RandomBytes(4000, 5);  // changed past 4 GiB
  localIslands.erase(localIslands.begin() + 1);   // missing across 2 GiB
  const std::string peerPath = SparseFile(dir, "peer.img", peerIslands);
  const std::string localPath = SparseFile(dir, "local.img", localIslands);
  const std::string saved = (dir.path() / "saved.img").string();

  TestPeer server, client, oldClient;
  server.program.state.NetVersion = 2;
  client.program.state.NetVersion = 2;
  // Listed directly: fingerprinting 4 GiB twice would be most of the test.
  const FileEntry peerEntry{peerPath, kSize, std::string(32, 'a'), 0, 1};
  const FileEntry localEntry{localPath, kSize, std::string(32, 'b'), 0, 2};
  *server.program.state.tables.LocalFiles.Append() = peerEntry;
  const int port = server.Listen();
  ASSERT_TRUE(client.ConnectTo(port));
  ASSERT_TRUE(oldClient.ConnectTo(port));
  std::vector<TestPeer*> all{&server, &client, &oldClient};
  ASSERT_TRUE(RunUntil(all, [&] { return client.window.RowCount(kServerFiles) == 1; }));
  RunPasses(all, 20);
  EXPECT_EQ(oldClient.window.RowCount(kServerFiles), 0);
  EXPECT_EQ(server.CountLogged(peerPath + " is too large for this peer: not listed"), 1);

  FileEntry remote = *client.program.state.tables.RemoteFiles.At(0);
  EXPECT_EQ(remote.size, kSize);
  ASSERT_NE(StartComparison(client.program.state.tables, client.program.host, localEntry, remote),
            nullptr);
  ASSERT_TRUE(RunUntil(all, [&] { return client.Logged("Comparison finished!"); }));
  client.window.SelectRow(kJobList, 0);
  RunPasses({&client}, 1);
  client.AnswerSaveWith(saved);
  ASSERT_TRUE(client.Use(kSyncButton));
  ASSERT_TRUE(RunUntil(all, [&] { return client.Job(0)->state == kIdle; }));
  // The whole-file SHA-256 was checked before this line.
  ASSERT_TRUE(client.Logged("Syncronison complete!"));
  EXPECT_EQ(std::filesystem::file_size(saved), static_cast<uintmax_t>(kSize));
  for (const auto& [offset, bytes] : peerIslands) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(ReadAt(saved, offset, bytes.size()), bytes);
  }
  EXPECT_LE(DiskBytes(saved), DiskBytes(peerPath) + DiskBytes(peerPath) / 100 + 64 * 1024);
}

}  // namespace
}  // namespace kelpie
