// kelpie-peer --fetch end to end: the real program in a child process against
// a server in this process, over loopback.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/fetch_status.h"
#include "app/headless_window.h"
#include "app/peer_session.h"
#include "app/program.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::ReadFileBytes;
using test::TempDir;

// A fetch that hangs fails the test instead of holding the suite.
constexpr int kMaxPasses = 30000;

std::vector<uint8_t> Edited(std::vector<uint8_t> bytes) {
  for (size_t i = 1000; i < bytes.size(); i += 40000)
    bytes[i] ^= 0x5a;
  bytes.insert(bytes.begin() + 70000, 3000, 7);
  return bytes;
}

// The server: a headless program offering files, stepped while a child runs.
struct Server {
  Server() {
    program.host.SetLogSink([this](std::string_view line) {
      if (onLine) onLine(line);
    });
    EXPECT_EQ(ListenOn(program, window, 0), "");
  }
  ~Server() { program.Cleanup(); }
  int32_t Port() const { return program.state.network.ServerPort(); }
  void Offer(const std::string& path) { EXPECT_EQ(OfferFile(program, window, path), ""); }
  FileEntry& Listed(int index) { return *program.state.tables.LocalFiles.At(index); }
  void Pass() { program.Pass(); }
  // Cuts every client off at once, before the message under way is answered.
  void DropClients() {
    for (const ClientEntry& client : program.state.tables.Clients) {
      program.state.network.ConnectionClose(client.connection);
    }
  }

  HeadlessWindow window;
  Program program{window, window};
  std::function<void(std::string_view)> onLine;
};

struct PeerRun {
  int status = -1;
  std::string output;  // standard output and error, or the terminal's text
};

// Runs kelpie-peer with args, its output on a pipe or a pseudo-terminal,
// stepping the server until it exits.
PeerRun RunPeer(Server& server, std::vector<std::string> args, bool terminal) {
  args.insert(args.begin(), KELPIE_PEER_PROGRAM);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  int output = -1;
  pid_t child = -1;
  if (terminal) {
    child = ::forkpty(&output, nullptr, nullptr, nullptr);
  } else {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    child = ::fork();
    if (child == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::dup2(fds[1], STDERR_FILENO);
    }
    ::close(fds[1]);
    output = fds[0];
  }
  if (child == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::fcntl(output, F_SETFL, O_NONBLOCK);
  PeerRun run;
  int waitStatus = 0;
  char buffer[4096];
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    server.Pass();
    for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) > 0;)
      run.output.append(buffer, static_cast<size_t>(n));
    if (::waitpid(child, &waitStatus, WNOHANG) == child) {
      run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
      break;
    }
  }
  if (run.status < 0) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
  for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) > 0;)
    run.output.append(buffer, static_cast<size_t>(n));
  ::close(output);
  return run;
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peerBytes = test::RandomBytes(300000, 11);
    peerPath = dir.Write("peer.bin", peerBytes);
    localPath = (dir.path() / "local.bin").string();
  }
  std::vector<std::string> Args(const Server& server, const std::string& remote,
                                std::vector<std::string> more = {}) const {
    std::vector<std::string> args{"--connect", "127.0.0.1:" + std::to_string(server.Port()),
                                  "--fetch",   remote,
                                  "--to",      localPath};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  TempDir dir;
  std::vector<uint8_t> peerBytes;
  std::string peerPath;
  std::string localPath;
};

TEST_F(FetchTest, RebuildsThePeersFileFromAnOlderCopyOrFromNothing) {
  Server server;
  server.Offer(peerPath);
  for (std::string version : {"2", "1"}) {
    for (bool older : {true, false}) {
      std::filesystem::remove(localPath);
      if (older) dir.Write("local.bin", Edited(peerBytes));
      PeerRun run = RunPeer(server, Args(server, "peer.bin", {"--netversion", version}), false);
      EXPECT_EQ(run.status, kFetchDone) << run.output;
      EXPECT_EQ(ReadFileBytes(localPath), peerBytes) << version << older;
      // Without a terminal: the summary line alone.
      EXPECT_EQ(run.output.find('\033'), std::string::npos);
      EXPECT_NE(run.output.find("bytes on the wire"), std::string::npos) << run.output;
      EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
    }
  }
}

TEST_F(FetchTest, EachFailureHasItsStatusAndLeavesLocalAsItWas) {
  std::filesystem::create_directories(dir.path() / "a");
  std::filesystem::create_directories(dir.path() / "b");
  const std::string gone = (dir.path() / "gone.bin").string();
  const std::string key = (dir.path() / "key").string();
  struct Case {
    const char* name;
    std::string remote;  // "" leaves --to out
    std::vector<std::string> more;
    std::function<void(Server&)> arrange;
    int status;
  };
  const std::vector<Case> cases{
      {"no --to", "", {}, nullptr, kFetchBadArguments},
      {"closed port",
       "peer.bin",
       {},
       [](Server& s) { s.program.state.network.ServerClose(); },
       kFetchCannotConnect},
      {"key against a plain server", "peer.bin", {"--key", key}, nullptr, kFetchCannotConnect},
      {"no such file", "other.bin", {}, nullptr, kFetchNoSuchFile},
      {"ambiguous name", "dup.bin", {}, nullptr, kFetchNoSuchFile},
      {"file gone", "gone.bin", {}, [&](Server&) { std::filesystem::remove(gone); }, kFetchRefused},
      {"connection lost",
       "peer.bin",
       {},
       [](Server& s) {
         s.onLine = [&s](std::string_view line) {
           if (line.find("'Compare_Get'") != std::string_view::npos) s.DropClients();
         };
       },
       kFetchLost},
      {"hash differs",
       "peer.bin",
       {},
       [](Server& s) { s.Listed(0).sha256[0] ^= 1; },
       kFetchVerifyFailed},
  };
  {
    Server keyMaker;
    ASSERT_EQ(RunPeer(keyMaker, {"--new-key", key}, false).status, 0);
  }
  const std::vector<uint8_t> local = Edited(peerBytes);
  for (const Case& c : cases) {
    Server server;
    server.Offer(peerPath);
    server.Offer(dir.Write("a/dup.bin", peerBytes));
    server.Offer(dir.Write("b/dup.bin", peerBytes));
    server.Offer(dir.Write("gone.bin", peerBytes));
    dir.Write("local.bin", local);
    std::vector<std::string> args = Args(server, c.remote, c.more);
    if (c.remote.empty()) args.resize(4);
    if (c.arrange) c.arrange(server);
    PeerRun run = RunPeer(server, args, false);
    EXPECT_EQ(run.status, c.status) << c.name << ": " << run.output;
    EXPECT_TRUE(run.output.starts_with("kelpie-peer: ")) << c.name << ": " << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << c.name << ": " << run.output;
    EXPECT_EQ(ReadFileBytes(localPath), local) << c.name;
  }
}

TEST_F(FetchTest, UnwritableLocalIsRefusedAndNotCreated) {
  Server server;
  server.Offer(peerPath);
  localPath = (dir.path() / "missing" / "local.bin").string();
  PeerRun run = RunPeer(server, Args(server, "peer.bin"), false);
  EXPECT_EQ(run.status, kFetchCannotWrite) << run.output;
  EXPECT_FALSE(std::filesystem::exists(localPath));
}

TEST_F(FetchTest, DrawsItsProgressOnlyOnATerminal) {
  Server server;
  server.Offer(peerPath);
  PeerRun run = RunPeer(server, Args(server, "peer.bin"), true);
  EXPECT_EQ(run.status, kFetchDone) << run.output;
  EXPECT_NE(run.output.find("\r\033[K"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(" of 293.0 KiB"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("bytes reused"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFileBytes(localPath), peerBytes);
}

}  // namespace
}  // namespace kelpie
