// Faults of the other side over real loopback connections: a peer killed in
// the middle of a job, one that goes silent, one that never reads and one
// that sends a byte at a time. The program that stays logs it, ends its jobs,
// keeps its local file as it was, and goes on serving everyone else.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "compare/sync.h"
#include "protocol/messages.h"
#include "protocol/server_handler.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::RawClient;
using test::ReadFileBytes;
using test::RunPasses;
using test::RunUntil;
using test::TempDir;
using test::TestPeer;
using Bytes = std::vector<uint8_t>;

// kelpie-peer in a child process, its log written to a file.
class ChildPeer {
 public:
  ChildPeer(std::vector<std::string> args, const std::filesystem::path& logPath) : log_(logPath) {
    args.insert(args.begin(), KELPIE_PEER_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(log, STDOUT_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(log);
  }
  ~ChildPeer() { Signal(SIGKILL); }
  ChildPeer(const ChildPeer&) = delete;
  ChildPeer& operator=(const ChildPeer&) = delete;

  // The port of its "Listening on port N" line; 0 when none came in time.
  int ListeningPort() const {
    const std::string line = "Listening on port ";
    for (int wait = 0; wait < 2000; ++wait) {
      const Bytes bytes = ReadFileBytes(log_.string());
      const std::string text(bytes.begin(), bytes.end());
      const size_t at = text.find(line);
      if (at != std::string::npos && text.find('\n', at) != std::string::npos)
        return std::atoi(text.c_str() + at + line.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
  }
  void Signal(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    if (signal == SIGKILL) ::waitpid(std::exchange(pid_, -1), nullptr, 0);
  }

 private:
  std::filesystem::path log_;
  pid_t pid_ = -1;
};

bool AnyLineEndsWith(const TestPeer& peer, const std::string& end) {
  return std::any_of(peer.log.begin(), peer.log.end(),
                     [&](const std::string& line) { return line.ends_with(end); });
}

std::vector<std::string> FilesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct KillCase {
  bool survivorIsServer;
  int version;
  bool duringSync;  // else during the comparison
};

std::string KillCaseName(const ::testing::TestParamInfo<KillCase>& info) {
  return std::string(info.param.survivorIsServer ? "Server" : "Client") + "V" +
         std::to_string(info.param.version) + (info.param.duringSync ? "Syncing" : "Comparing");
}

class KilledPeer : public ::testing::TestWithParam<KillCase> {};

// The survivor is the initiator; the killed child answers it.
TEST_P(KilledPeer, EndsTheJobAndLeavesTheLocalFileAlone) {
  const KillCase c = GetParam();
  TempDir mine, theirs;
  const Bytes local = RandomBytes(64 << 10, 1);
  // More than a second-version synchronisation asks for at once, so the
  // kill always cuts it short.
  const Bytes peer = RandomBytes(c.version == 2 ? (20 << 20) : (1 << 20), 2);
  const std::string localPath = mine.Write("local.bin", local);
  const std::string peerPath = theirs.Write("peer.bin", peer);
  const std::string version = std::to_string(c.version);
  TestPeer survivor;
  survivor.program.state.NetVersion = c.version;
  std::unique_ptr<ChildPeer> child;
  if (c.survivorIsServer) {
    const int port = survivor.Listen();
    survivor.Offer(localPath);
    child = std::make_unique<ChildPeer>(
        std::vector<std::string>{"--connect", "127.0.0.1:" + std::to_string(port), "--netversion",
                                 version, peerPath},
        theirs.path() / "peer.log");
    ASSERT_TRUE(RunUntil({&survivor}, [&] { return survivor.window.RowCount(kClientFiles) == 1; }));
  } else {
    child = std::make_unique<ChildPeer>(
        std::vector<std::string>{"--listen", "0", "--netversion", version, peerPath},
        theirs.path() / "peer.log");
    ASSERT_TRUE(survivor.ConnectTo(child->ListeningPort()));
    survivor.Offer(localPath);
    ASSERT_TRUE(RunUntil({&survivor}, [&] { return survivor.window.RowCount(kServerFiles) == 1; }));
  }
  const std::string saved = (mine.path() / "saved.bin").string();
  if (c.duringSync) {
    ASSERT_TRUE(survivor.CompareRows(0, 0));
    ASSERT_TRUE(RunUntil({&survivor}, [&] { return survivor.Logged("Comparison finished!"); }));
    survivor.AnswerSaveWith(saved);
    ASSERT_TRUE(survivor.PressJobButton(0));
    ASSERT_TRUE(RunUntil({&survivor}, [&] { return survivor.Job(0)->position > 0; }));
  } else {
    // Held still, the child cannot finish the comparison before it dies.
    child->Signal(SIGSTOP);
    ASSERT_TRUE(survivor.CompareRows(0, 0));
    RunPasses({&survivor}, 20);
  }
  child->Signal(SIGKILL);
  const std::string lost = c.survivorIsServer ? ") disconnected!" : "Server disconnected!";
  ASSERT_TRUE(RunUntil({&survivor}, [&] { return AnyLineEndsWith(survivor, lost); }));
  RunPasses({&survivor}, 20);
  if (c.survivorIsServer) {
    EXPECT_EQ(survivor.program.state.tables.CompareJobs.Count(), 0);
  } else {
    EXPECT_EQ(survivor.Job(0)->state, kIdle);
  }
  EXPECT_FALSE(survivor.Logged("Comparison finished!") && !c.duringSync);
  EXPECT_EQ(ReadFileBytes(localPath), local);
  // What a second-version synchronisation fetched waits for the next run.
  std::vector<std::string> expected = {"local.bin"};
  if (c.version == 2 && c.duringSync)
    expected.insert(expected.begin(), ".local.bin.kelpie-partial");
  EXPECT_EQ(FilesIn(mine), expected);
}

INSTANTIATE_TEST_SUITE_P(BothRolesAndVersions, KilledPeer,
                         ::testing::Values(KillCase{false, 1, false}, KillCase{false, 1, true},
                                           KillCase{false, 2, false}, KillCase{false, 2, true},
                                           KillCase{true, 1, false}, KillCase{true, 1, true},
                                           KillCase{true, 2, false}, KillCase{true, 2, true}),
                         KillCaseName);

struct SilenceCase {
  bool survivorIsServer;
  int version;
};

class SilentPeer : public ::testing::TestWithParam<SilenceCase> {};

// The frozen side still holds its socket open, as a machine that vanished
// would. Only the second version sends keep-alives, so only it notices.
TEST_P(SilentPeer, IsDroppedOnlyWhereKeepAlivesAreSpoken) {
  const SilenceCase c = GetParam();
  TempDir dir;
  TestPeer server, client;
  for (TestPeer* peer : {&server, &client}) {
    peer->program.state.NetVersion = c.version;
    peer->program.state.keepAliveInterval = std::chrono::milliseconds(100);
    peer->program.state.silenceLimit = std::chrono::milliseconds(600);
  }
  TestPeer& survivor = c.survivorIsServer ? server : client;
  TestPeer& frozen = c.survivorIsServer ? client : server;
  ASSERT_TRUE(client.ConnectTo(server.Listen()));
  frozen.Offer(dir.Write("peer.bin", RandomBytes(1 << 20, 3)));
  survivor.Offer(dir.Write("local.bin", RandomBytes(1 << 20, 4)));
  const int remoteList = c.survivorIsServer ? kClientFiles : kServerFiles;
  ASSERT_TRUE(
      RunUntil({&server, &client}, [&] { return survivor.window.RowCount(remoteList) == 1; }));
  // Idle but stepped, both sides keep the connection past the limit.
  const auto runFor = [](std::vector<TestPeer*> peers, std::chrono::milliseconds span) {
    for (auto end = std::chrono::steady_clock::now() + span;
         std::chrono::steady_clock::now() < end;)
      RunPasses(peers, 1);
  };
  runFor({&server, &client}, std::chrono::milliseconds(1000));
  ASSERT_FALSE(survivor.Logged("Server disconnected!"));
  ASSERT_EQ(server.program.state.tables.Clients.Count(), 1);
  ASSERT_TRUE(survivor.CompareRows(0, 0));
  runFor({&survivor}, std::chrono::milliseconds(1000));
  EXPECT_EQ(AnyLineEndsWith(survivor, ": silent for 0.6 s, connection dropped!"), c.version == 2);
  if (c.version == 2 && c.survivorIsServer) {
    EXPECT_EQ(server.program.state.tables.CompareJobs.Count(), 0);
  } else if (c.version == 2) {
    EXPECT_TRUE(client.Logged("Server disconnected!"));
    EXPECT_EQ(client.Job(0)->state, kIdle);
  } else {
    EXPECT_NE(survivor.Job(0)->state, kIdle);
  }
}

INSTANTIATE_TEST_SUITE_P(BothRolesAndVersions, SilentPeer,
                         ::testing::Values(SilenceCase{false, 1}, SilenceCase{false, 2},
                                           SilenceCase{true, 1}, SilenceCase{true, 2}),
                         [](const ::testing::TestParamInfo<SilenceCase>& info) {
                           return std::string(info.param.survivorIsServer ? "Server" : "Client") +
                                  "V" + std::to_string(info.param.version);
                         });

// One honest client compares and synchronises while another misbehaves.
struct Crowd {
  Crowd() {
    port = server.Listen();
    server.Offer(dir.Write("served.bin", served));
  }

  // Runs the honest client's whole job, stepping also between.
  ::testing::AssertionResult HonestRebuild(const std::function<void()>& between) {
    if (!honest.ConnectTo(port)) return ::testing::AssertionFailure() << "connect";
    honest.Offer(dir.Write("old.bin", old));
    const std::vector<TestPeer*> both{&server, &honest};
    const auto until = [&](const std::function<bool()>& done) {
      return RunUntil(both, [&] {
        between();
        return done();
      });
    };
    if (!until([&] { return honest.window.RowCount(kServerFiles) == 1; }) ||
        !honest.CompareRows(0, 0) ||
        !until([&] { return honest.Logged("Comparison finished!"); })) {
      return ::testing::AssertionFailure() << "comparison";
    }
    honest.AnswerSaveWith((dir.path() / "saved.bin").string());
    if (!honest.PressJobButton(0) || !until([&] { return honest.Logged("Syncronison complete!"); }))
      return ::testing::AssertionFailure() << "synchronisation";
    if (ReadFileBytes((dir.path() / "saved.bin").string()) != served)
      return ::testing::AssertionFailure() << "saved file differs";
    return ::testing::AssertionSuccess();
  }

  TempDir dir;
  Bytes served = RandomBytes(2 << 20, 5);
  Bytes old = RandomBytes(1 << 20, 6);
  TestPeer server, honest;
  int port = 0;
};

// Asks for far more than the server may hold for it and reads none of it:
// the server stops holding at its limit and drops it; the honest client
// is served throughout.
TEST(FaultyClient, ThatNeverReadsIsDroppedWithinItsOutputLimit) {
  Crowd crowd;
  RawClient hog(crowd.port);
  ASSERT_TRUE(RunUntil({&crowd.server},
                       [&] { return crowd.server.program.state.tables.Clients.Count() == 1; }));
  const ConnectionId hogId = crowd.server.program.state.tables.Clients.At(0)->connection;
  hog.SendFrame(BuildCompareStart((crowd.dir.path() / "served.bin").string()));
  int32_t fileId = 0;
  ASSERT_TRUE(RunUntil({&crowd.server}, [&] {
    for (const auto& frame : hog.Frames()) {
      if (auto ok = ReadOk(frame); ok && ok->acknowledged == CmdCompare_Start) fileId = ok->value;
    }
    return fileId != 0;
  }));
  const size_t gets = kMaxPendingOutput / kMaxGetLength + 1000;
  size_t sent = 0;
  ASSERT_TRUE(crowd.HonestRebuild([&] {
    for (int i = 0; i < 200 && sent < gets; ++i, ++sent)
      hog.SendFrame(BuildBlockGet(fileId, 0, kMaxGetLength));
  }));
  ASSERT_TRUE(RunUntil({&crowd.server}, [&] {
    for (int i = 0; i < 200 && sent < gets; ++i, ++sent)
      hog.SendFrame(BuildBlockGet(fileId, 0, kMaxGetLength));
    return crowd.server.Logged(ClientName(hogId) + " disconnected!");
  }));
}

// A byte every few milliseconds: the honest client's whole job is done
// before the slow one's first message is even complete.
TEST(FaultyClient, ThatSendsAByteAtATimeHoldsNobodyUp) {
  Crowd crowd;
  RawClient slow(crowd.port);
  ASSERT_TRUE(RunUntil({&crowd.server},
                       [&] { return crowd.server.program.state.tables.Clients.Count() == 1; }));
  Bytes frame = {0, 0};
  const Bytes hello = BuildHello(std::string(20000, 'x'));
  frame[0] = static_cast<uint8_t>(hello.size() & 0xFF);
  frame[1] = static_cast<uint8_t>(hello.size() >> 8);
  frame.insert(frame.end(), hello.begin(), hello.end());
  frame.push_back(0);
  size_t next = 0;
  auto last = std::chrono::steady_clock::now();
  ASSERT_TRUE(crowd.HonestRebuild([&] {
    if (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(2)) return;
    last = std::chrono::steady_clock::now();
    if (next < frame.size() - 1) slow.SendBytes({frame[next++]});
  }));
  EXPECT_LT(next, frame.size() - 1);
  slow.SendBytes(Bytes(frame.begin() + static_cast<long>(next), frame.end()));
  EXPECT_TRUE(RunUntil({&crowd.server}, [&] { return AnyLineEndsWith(crowd.server, "xxxxx"); }));
}

}  // namespace
}  // namespace kelpie
