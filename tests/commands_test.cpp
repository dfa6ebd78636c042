// The commands behind the controls, one program at a time.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "compare/fingerprint.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::RunPasses;
using test::RunUntil;
using test::TempDir;
using test::TestPeer;

TEST(Commands, StartServerOnAPortInUseLogsAndKeepsTheButton) {
  TestPeer first, second;
  int port = first.Listen();
  second.window.SetText(kPortField, std::to_string(port));
  ASSERT_TRUE(second.Use(kServerButton));
  EXPECT_TRUE(second.Logged("Unable to start the Server!"));
  EXPECT_EQ(second.window.GetText(kServerButton), "StartServer");
  EXPECT_EQ(second.program.state.ServerRunning, 0);
  EXPECT_FALSE(second.window.IsControlEnabled(kAddFileButton));
}

TEST(Commands, AFailedConnectNamesTheFieldsAsTyped) {
  TestPeer client;
  int port = test::UnusedPort();
  client.window.SetText(kHostField, "127.0.0.1");
  client.window.SetText(kPortField, " " + std::to_string(port) + "x");
  ASSERT_TRUE(client.Use(kConnectButton));
  EXPECT_TRUE(client.Logged("Couldnt to 127.0.0.1: " + std::to_string(port) + "x connect!"));
  EXPECT_EQ(client.window.GetText(kConnectButton), "Connect");
}

TEST(Commands, RolesEnableTheirControlsAndNeverDisableThem) {
  TestPeer peer;
  peer.Listen();
  EXPECT_TRUE(peer.window.IsControlEnabled(kClientRefresh));
  EXPECT_TRUE(peer.window.IsControlEnabled(kAddFileButton));
  EXPECT_FALSE(peer.window.IsControlEnabled(kServerRefresh));
  EXPECT_EQ(peer.window.RepaintCount(kServerLabel), 1);
  ASSERT_TRUE(peer.Use(kServerButton));  // StopServer
  EXPECT_TRUE(peer.window.IsControlEnabled(kClientRefresh));
  EXPECT_TRUE(peer.window.IsControlEnabled(kAddFileButton));
  EXPECT_EQ(peer.window.RepaintCount(kClientLabel), 2);

  TestPeer server, client;
  int port = server.Listen();
  ASSERT_TRUE(client.ConnectTo(port));
  EXPECT_TRUE(client.window.IsControlEnabled(kServerRefresh));
  EXPECT_TRUE(client.window.IsControlEnabled(kAddFileButton));
  EXPECT_FALSE(client.window.IsControlEnabled(kClientRefresh));
}

// A file too large to read within a pass is read beside the loop: the
// passes go on, a connected client is greeted meanwhile, and the file is
// offered, with the fingerprints of its bytes, once they are ready.
TEST(Commands, AddFileReadsALargeFileBesideTheLoop) {
  TempDir dir;
  const std::vector<uint8_t> bytes = RandomBytes(300000, 2);
  std::string file = dir.Write("large.bin", bytes);
  TestPeer server, client;
  server.program.fingerprintAtOnce = 1000;
  int port = server.Listen();
  ASSERT_TRUE(server.window.Click(kAddFileButton));
  server.window.QueueOpenFileAnswer(file);
  ASSERT_TRUE(client.ConnectTo(port));
  ASSERT_TRUE(RunUntil({&server, &client},
                       [&] { return client.Logged("Server: 'FileList_Add' " + file); }));
  EXPECT_TRUE(server.Logged("Reading " + file + " to offer it"));
  const FileEntry& entry = *server.program.state.tables.LocalFiles.At(0);
  EXPECT_EQ(entry.size, 300000);
  EXPECT_EQ(entry.md5, FileFingerprint(file));
  EXPECT_EQ(entry.sha256, Sha256(bytes));
  EXPECT_EQ(server.window.RowCount(kServerFiles), 1);
}

TEST(Commands, AddFileAsksFromTheRootAndNeedsARole) {
  TempDir dir;
  std::string file = dir.Write("a.bin", RandomBytes(10, 1));
  TestPeer peer;
  peer.window.EnableControl(kAddFileButton, true);
  peer.Offer(file);
  EXPECT_EQ(peer.program.state.tables.LocalFiles.Count(), 0);
  ASSERT_EQ(peer.window.dialogs().size(), 1u);
  EXPECT_EQ(peer.window.dialogs()[0].title, "Datei auswählen");
  EXPECT_EQ(peer.window.dialogs()[0].argument, "/");

  peer.Listen();
  peer.Offer(file);
  peer.Offer(file);  // the same file twice gives two entries
  EXPECT_EQ(peer.program.state.tables.LocalFiles.Count(), 2);
  EXPECT_EQ(peer.window.RowCount(kServerFiles), 2);
  EXPECT_NE(peer.program.state.tables.LocalFiles.At(0)->fileId, 0);
  EXPECT_NE(peer.program.state.tables.LocalFiles.At(0)->fileId,
            peer.program.state.tables.LocalFiles.At(1)->fileId);
  peer.Offer("");  // cancelled
  EXPECT_EQ(peer.program.state.tables.LocalFiles.Count(), 2);
}

TEST(Commands, AddFileRefusesWhatCannotBeOffered) {
  TempDir dir;
  std::string missing = (dir.path() / "missing.bin").string();
  std::string folder = dir.path().string() + "/sub";
  std::filesystem::create_directory(folder);
  TestPeer peer;
  peer.Listen();
  peer.Offer(missing);
  peer.Offer(folder + "/");  // no name part: silently nothing
  peer.Offer(folder);
  EXPECT_EQ(peer.program.state.tables.LocalFiles.Count(), 0);
  EXPECT_TRUE(peer.Logged("Can't add " + missing + ": it is not a readable file!"));
  EXPECT_TRUE(peer.Logged("Can't add " + folder + ": it is not a readable file!"));
  EXPECT_EQ(peer.log.size(), 2u);
}

TEST(Commands, CompareIsEnabledOnlyWithBothListsSelected) {
  TestPeer peer;
  peer.window.AddRow(kServerFiles, "a\nx");
  peer.window.AddRow(kClientFiles, "b\ny");
  peer.window.SelectRow(kServerFiles, 0);
  RunPasses({&peer}, 1);
  EXPECT_FALSE(peer.window.IsControlEnabled(kCompareButton));
  peer.window.SelectRow(kClientFiles, 0);
  RunPasses({&peer}, 1);
  EXPECT_TRUE(peer.window.IsControlEnabled(kCompareButton));
  peer.window.SelectRow(kServerFiles, -1);
  RunPasses({&peer}, 1);
  EXPECT_FALSE(peer.window.IsControlEnabled(kCompareButton));
}

// "Syncronize" on a job still waiting for its OK stops it: Compare_Stop with
// number 0, and the job is Idle.
TEST(Commands, SyncButtonFollowsTheSelectedJob) {
  TempDir dir;
  TestPeer server, client;
  int port = server.Listen();
  server.Offer(dir.Write("s.bin", RandomBytes(3000, 1)));
  ASSERT_TRUE(client.ConnectTo(port));
  client.Offer(dir.Write("c.bin", RandomBytes(3000, 2)));
  ASSERT_TRUE(
      RunUntil({&server, &client}, [&] { return client.window.RowCount(kServerFiles) == 1; }));
  ASSERT_TRUE(client.CompareRows(0, 0));
  ASSERT_EQ(client.Job(0)->state, kRequested);
  client.window.SelectRow(kJobList, 0);
  RunPasses({&client}, 1);
  EXPECT_TRUE(client.window.IsControlEnabled(kSyncButton));
  EXPECT_EQ(client.window.GetText(kSyncButton), "Syncronize");
  ASSERT_TRUE(client.Use(kSyncButton));
  EXPECT_EQ(client.Job(0)->state, kIdle);
  auto stopped = [&] {
    return std::any_of(server.log.begin(), server.log.end(), [](const std::string& line) {
      return line.ends_with("): 'Compare_Stop' FileID:0");
    });
  };
  ASSERT_TRUE(RunUntil({&server, &client}, stopped));
  client.window.SelectRow(kJobList, -1);
  RunPasses({&client}, 1);
  EXPECT_FALSE(client.window.IsControlEnabled(kSyncButton));
}

TEST(Commands, ClosingEndsTheLoopAfterThePass) {
  TestPeer peer;
  peer.window.RequestClose();
  peer.program.MainLoop();
  EXPECT_EQ(peer.program.QuitRequested, 1);
}

}  // namespace
}  // namespace kelpie
