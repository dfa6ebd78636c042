// Whole programs talking over loopback: greeting, file lists, comparisons and
// synchronisations in both directions, clients coming and going.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "compare/fingerprint.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::ReadFileBytes;
using test::RunPasses;
using test::RunUntil;
using test::TempDir;
using test::TestPeer;
using ::testing::ElementsAre;

std::string Client(const TestPeer& server, int index, const std::string& rest) {
  const ClientEntry* client = server.program.state.tables.Clients.At(index);
  return "Client(" + std::to_string(client ? client->connection : 0) + ")" + rest;
}

TEST(Session, ConnectGreetsBothWaysAndFetchesTheServersFiles) {
  TempDir dir;
  std::string alpha = dir.Write("alpha.bin", RandomBytes(1000, 1));
  std::string beta = dir.Write("beta.bin", RandomBytes(2000, 2));
  TestPeer server;
  int port = server.Listen();
  server.Offer(alpha);
  server.Offer(beta);
  TestPeer client;
  ASSERT_TRUE(client.ConnectTo(port));
  ASSERT_TRUE(RunUntil({&server, &client}, [&] {
    return client.Logged("Server: 'FileList_Add' " + beta) &&
           server.Logged(Client(server, 0, ": 'OK' (Hello)"));
  }));

  EXPECT_THAT(client.log,
              ElementsAre("Server: 'Hello' NetVersion: $1 - KLPE Version 1.02 by Morwen",
                          "Server: 'OK' (Hello)", "Server: 'OK' (FileList_Get) Files: 2",
                          "Server: 'FileList_Add' " + alpha, "Server: 'FileList_Add' " + beta));
  EXPECT_THAT(server.log, ElementsAre(Client(server, 0, " connected!"),
                                      Client(server, 0, ": 'Hello' NetVersion: $1 - Hello! :)"),
                                      Client(server, 0, ": 'FileList_Get'"),
                                      Client(server, 0, ": 'OK' (Hello)")));
  ASSERT_EQ(client.window.RowCount(kServerFiles), 2);
  EXPECT_EQ(client.window.RowText(kServerFiles, 0, 0), "alpha.bin");
  EXPECT_EQ(client.window.RowText(kServerFiles, 1, 0), "beta.bin");
  EXPECT_EQ(client.window.RowText(kServerFiles, 1, 1), FileFingerprint(beta));
  EXPECT_EQ(server.window.GetText(kClientLabel), "Clients (1)");
  EXPECT_EQ(client.window.GetText(kConnectButton), "Disconnect");
  EXPECT_EQ(server.window.GetText(kServerButton), "StopServer");
}

// Which side presses Compare: the client (peer = server) or the server.
enum class Initiator { Client, Server };

struct Transfer {
  Initiator initiator;
  std::vector<uint8_t> local;
  std::vector<uint8_t> peer;
};

std::vector<uint8_t> Edited(std::vector<uint8_t> bytes, size_t at, size_t insert, size_t erase) {
  bytes.erase(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + erase));
  std::vector<uint8_t> extra = RandomBytes(insert, 99);
  bytes.insert(bytes.begin() + static_cast<long>(at), extra.begin(), extra.end());
  return bytes;
}

class SessionTransfer : public ::testing::TestWithParam<Initiator> {};

// Both roles, both directions: the initiator's saved file equals the peer's.
TEST_P(SessionTransfer, ComparesAndRebuildsThePeersFile) {
  std::vector<uint8_t> local = RandomBytes(700000, 5);
  std::vector<uint8_t> peerBytes = Edited(local, 300000, 1500, 700);
  TempDir dir;
  std::string localPath = dir.Write("local.bin", local);
  std::string peerPath = dir.Write("peer.bin", peerBytes);
  std::string savedPath = (dir.path() / "saved.bin").string();

  TestPeer server, client;
  int port = server.Listen();
  ASSERT_TRUE(client.ConnectTo(port));
  bool clientStarts = GetParam() == Initiator::Client;
  TestPeer& initiator = clientStarts ? client : server;
  TestPeer& responder = clientStarts ? server : client;
  responder.Offer(peerPath);
  initiator.Offer(localPath);
  ASSERT_TRUE(RunUntil({&server, &client}, [&] {
    return client.window.RowCount(kServerFiles) == 1 && server.window.RowCount(kClientFiles) == 1;
  }));

  ASSERT_TRUE(initiator.CompareRows(0, 0));
  ASSERT_TRUE(
      RunUntil({&server, &client}, [&] { return initiator.Logged("Comparison finished!"); }));

  ASSERT_EQ(initiator.window.RowCount(kJobList), 1);
  ASSERT_EQ(responder.window.RowCount(kJobList), 1);
  if (clientStarts) {
    EXPECT_EQ(initiator.window.RowText(kJobList, 0, 0), "Compare: \"local.bin\" And \"peer.bin\"");
    EXPECT_EQ(responder.window.RowText(kJobList, 0, 0),
              Client(server, 0, ": \"peer.bin\"").replace(0, 6, "Compare"));
  } else {
    EXPECT_EQ(initiator.window.RowText(kJobList, 0, 0),
              Client(server, 0, ": \"local.bin\" And \"peer.bin\"").replace(0, 6, "Compare"));
    EXPECT_EQ(responder.window.RowText(kJobList, 0, 0), "Compare: \"peer.bin\"");
  }
  // Compare_Stop shows the responder's job as complete.
  ASSERT_TRUE(RunUntil({&server, &client}, [&] {
    return responder.Job(0)->position == static_cast<int32_t>(peerBytes.size());
  }));

  initiator.window.SelectRow(kJobList, 0);
  RunPasses({&initiator}, 1);
  EXPECT_EQ(initiator.window.GetText(kSyncButton), "Syncronize");
  initiator.AnswerSaveWith(savedPath);
  ASSERT_TRUE(initiator.Use(kSyncButton));
  ASSERT_TRUE(
      RunUntil({&server, &client}, [&] { return initiator.Logged("Syncronison complete!"); }));
  EXPECT_EQ(ReadFileBytes(savedPath), peerBytes);
  ASSERT_FALSE(initiator.window.dialogs().empty());
  EXPECT_EQ(initiator.window.dialogs().back().title, "Save file");
  EXPECT_EQ(initiator.window.dialogs().back().argument, localPath);
}

INSTANTIATE_TEST_SUITE_P(BothRoles, SessionTransfer,
                         ::testing::Values(Initiator::Client, Initiator::Server),
                         [](const auto& info) {
                           return info.param == Initiator::Client ? "ClientStarts" : "ServerStarts";
                         });

// Runs until the server's own comparison has asked a few checks and is not
// finished yet.
bool MidComparison(TestPeer& server) {
  const CompareJob* job = server.Job(0);
  return job != nullptr && job->state == kComparing && job->blocks &&
         CountRecords(job->blocks.get()) > 4;
}

TEST(Session, AClientLeavingMidComparisonTakesItsFilesAndJobsAlong) {
  TempDir dir;
  std::string own = dir.Write("own.bin", RandomBytes(200000, 11));
  TestPeer server;
  int port = server.Listen();
  server.Offer(own);
  std::vector<std::unique_ptr<TestPeer>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<TestPeer>());
    ASSERT_TRUE(clients[i]->ConnectTo(port));
    clients[i]->Offer(dir.Write("c" + std::to_string(i) + ".bin", RandomBytes(200000, 20 + i)));
  }
  std::vector<TestPeer*> all = {&server, clients[0].get(), clients[1].get(), clients[2].get()};
  ASSERT_TRUE(RunUntil(all, [&] { return server.program.state.tables.RemoteFiles.Count() == 3; }));
  EXPECT_EQ(server.window.GetText(kClientLabel), "Clients (3)");

  // The server compares its file with the middle client's file.
  int row = -1;
  for (int r = 0; r < server.window.RowCount(kClientFiles); ++r) {
    if (server.window.RowText(kClientFiles, r, 0) == "c1.bin") row = r;
  }
  ASSERT_GE(row, 0);
  ASSERT_TRUE(server.CompareRows(0, row));
  ASSERT_TRUE(RunUntil(all, [&] { return MidComparison(server); }));
  ConnectionId leaving = server.Job(0)->peer;

  ASSERT_TRUE(clients[1]->Use(kConnectButton));  // Disconnect
  std::string gone = "Client(" + std::to_string(leaving) + ") disconnected!";
  ASSERT_TRUE(RunUntil(all, [&] { return server.Logged(gone); }));
  EXPECT_EQ(server.window.GetText(kClientLabel), "Clients (2)");
  EXPECT_EQ(server.program.state.tables.CompareJobs.Count(), 0);
  EXPECT_EQ(server.window.RowCount(kJobList), 0);
  EXPECT_EQ(server.program.state.tables.Clients.Count(), 2);
  for (const FileEntry& file : server.program.state.tables.RemoteFiles) {
    EXPECT_NE(file.owner, leaving);
  }
  EXPECT_EQ(server.program.state.tables.RemoteFiles.Count(), 2);
  EXPECT_EQ(server.window.RowCount(kClientFiles), 2);
}

TEST(Session, RefreshAsksThePeersAgain) {
  TempDir dir;
  TestPeer server, client;
  int port = server.Listen();
  server.Offer(dir.Write("s.bin", RandomBytes(100, 1)));
  ASSERT_TRUE(client.ConnectTo(port));
  client.Offer(dir.Write("c.bin", RandomBytes(100, 2)));
  ASSERT_TRUE(RunUntil({&server, &client}, [&] {
    return client.window.RowCount(kServerFiles) == 1 && server.window.RowCount(kClientFiles) == 1;
  }));

  // The client's refresh empties its table at once but keeps the rows until
  // the answer redraws them.
  ASSERT_TRUE(client.Use(kServerRefresh));
  EXPECT_EQ(client.program.state.tables.RemoteFiles.Count(), 0);
  EXPECT_EQ(client.window.RowCount(kServerFiles), 1);
  ASSERT_TRUE(RunUntil({&server, &client},
                       [&] { return client.program.state.tables.RemoteFiles.Count() == 1; }));
  EXPECT_EQ(server.CountLogged(Client(server, 0, ": 'FileList_Get'")), 2);

  ASSERT_TRUE(server.Use(kClientRefresh));
  EXPECT_EQ(server.program.state.tables.RemoteFiles.Count(), 0);
  ASSERT_TRUE(RunUntil({&server, &client},
                       [&] { return server.program.state.tables.RemoteFiles.Count() == 1; }));
  EXPECT_TRUE(client.Logged("Server: 'FileList_Get'"));
  EXPECT_TRUE(server.Logged(Client(server, 0, ": 'OK' (FileList_Get) Files: 1")));
  EXPECT_EQ(server.window.RowText(kClientFiles, 0, 0), "c.bin");
}

TEST(Session, RefreshWithoutClientsEmptiesTheClientView) {
  TestPeer server;
  server.Listen();
  server.window.AddRow(kClientFiles, "stale\nmd5");
  ASSERT_TRUE(server.Use(kClientRefresh));
  EXPECT_EQ(server.window.RowCount(kClientFiles), 0);
}

TEST(Session, TwoComparisonsOfOneFileShareItsNumberAndBothFinish) {
  TempDir dir;
  std::vector<uint8_t> bytes = RandomBytes(300000, 3);
  std::string shared = dir.Write("shared.bin", bytes);
  std::string mine = dir.Write("mine.bin", Edited(bytes, 1000, 10, 0));
  TestPeer server, client;
  int port = server.Listen();
  server.Offer(shared);
  ASSERT_TRUE(client.ConnectTo(port));
  client.Offer(mine);
  ASSERT_TRUE(
      RunUntil({&server, &client}, [&] { return client.window.RowCount(kServerFiles) == 1; }));
  ASSERT_TRUE(client.CompareRows(0, 0));
  ASSERT_TRUE(client.Use(kCompareButton));
  ASSERT_TRUE(RunUntil({&server, &client},
                       [&] { return client.CountLogged("Comparison finished!") == 2; }));
  ASSERT_EQ(server.program.state.tables.CompareJobs.Count(), 2);
  EXPECT_EQ(server.Job(0)->fileId, server.Job(1)->fileId);
  EXPECT_EQ(client.Job(0)->fileId, server.Job(0)->fileId);
  EXPECT_EQ(client.Job(1)->fileId, server.Job(0)->fileId);

  std::string saved = (dir.path() / "saved.bin").string();
  client.AnswerSaveWith(saved);
  ASSERT_TRUE(client.PressJobButton(1));
  ASSERT_TRUE(RunUntil({&server, &client}, [&] { return client.Logged("Syncronison complete!"); }));
  EXPECT_EQ(ReadFileBytes(saved), bytes);
}

// Stopping the server and disconnecting clear the remote tables under jobs
// that still exist; nothing may use a removed entry afterwards.
TEST(Session, StopServerAndDisconnectLeaveJobsHarmless) {
  TempDir dir;
  std::string theirs = dir.Write("theirs.bin", RandomBytes(400000, 8));
  std::string ours = dir.Write("ours.bin", RandomBytes(400000, 9));
  TestPeer server, client;
  int port = server.Listen();
  server.Offer(theirs);
  ASSERT_TRUE(client.ConnectTo(port));
  client.Offer(ours);
  ASSERT_TRUE(
      RunUntil({&server, &client}, [&] { return client.window.RowCount(kServerFiles) == 1; }));
  ASSERT_TRUE(client.CompareRows(0, 0));
  ASSERT_TRUE(RunUntil({&server, &client}, [&] {
    const CompareJob* job = client.Job(0);
    return job && job->state == kComparing && CountRecords(job->blocks.get()) > 3;
  }));

  ASSERT_TRUE(server.Use(kServerButton));  // StopServer
  EXPECT_EQ(server.window.GetText(kServerButton), "StartServer");
  EXPECT_EQ(server.program.state.tables.RemoteFiles.Count(), 0);
  EXPECT_EQ(server.program.state.tables.Clients.Count(), 1);  // kept, as the label shows
  ASSERT_TRUE(client.Use(kConnectButton));                    // Disconnect
  EXPECT_EQ(client.program.state.tables.RemoteFiles.Count(), 0);
  RunPasses({&server, &client}, 20);

  // Abort, then synchronise from what was found: requests go nowhere, and
  // nothing touches the removed file entries.
  client.window.SelectRow(kJobList, 0);
  RunPasses({&client}, 1);
  EXPECT_EQ(client.window.GetText(kSyncButton), "Abort");
  ASSERT_TRUE(client.Use(kSyncButton));
  EXPECT_EQ(client.Job(0)->state, kIdle);
  ASSERT_TRUE(client.Use(kSyncButton));
  RunPasses({&server, &client}, 50);
  EXPECT_NE(client.Job(0)->state, kIdle);

  ASSERT_TRUE(server.PressJobButton(0));  // aborts the responder job
  EXPECT_EQ(server.Job(0)->state, kIdle);
  ASSERT_TRUE(server.Use(kSyncButton));  // a responder has nothing to synchronise
  EXPECT_EQ(server.Job(0)->state, kIdle);
  RunPasses({&server, &client}, 20);
}

}  // namespace
}  // namespace kelpie
