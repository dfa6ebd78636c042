// Secure mode: key files, and whole programs over loopback that let in only
// peers holding their key and put nothing readable on the wire.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "app/key_file.h"
#include "app/secure_mode.h"
#include "common/unique_fd.h"
#include "protocol/messages.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"
#include "transport/socket_ops.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::ReadFileBytes;
using test::RunUntil;
using test::TempDir;
using test::TestPeer;
using Bytes = std::vector<uint8_t>;

std::string NewKey(const TempDir& dir, const std::string& name) {
  std::string path = (dir.path() / name).string();
  EXPECT_EQ(WriteNewKeyFile(path), "");
  return path;
}

TEST(KeyFile, IsPrivateAndHoldsOneKey) {
  TempDir dir;
  std::string fresh = NewKey(dir, "key");
  struct stat info {};
  ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(WriteNewKeyFile(fresh), "") << "an existing key is never overwritten";
  KeyFileResult read = ReadKeyFile(fresh);
  ASSERT_TRUE(read.key) << read.error;
  EXPECT_EQ(ParseKeyText(KeyText(*read.key)), read.key);
  EXPECT_NE(ReadKeyFile(NewKey(dir, "other")).key, read.key);

  const std::string good = "kelpie-key:" + std::string(64, 'a');
  struct Case {
    std::string text;
    mode_t mode;
    const char* error;  // part of the expected error; "" when the key is good
  } cases[] = {
      {good + "\n", 0600, ""},
      {"  kelpie-key:" + std::string(64, 'F') + "\r\n", 0400, ""},
      {good, 0644, "mode 0644"},
      {good, 0640, "chmod 600"},
      {good, 0602, "open to other users"},
      {good.substr(0, good.size() - 1), 0600, "holds no key"},
      {good.substr(0, good.size() - 1) + "g", 0600, "holds no key"},
      {good.substr(11), 0600, "holds no key"},
      {"", 0600, "holds no key"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string path = dir.Write(std::to_string(n++), Bytes(c.text.begin(), c.text.end()));
    ::chmod(path.c_str(), c.mode);
    KeyFileResult result = ReadKeyFile(path);
    EXPECT_EQ(result.key.has_value(), c.error[0] == '\0') << c.text;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
  }
  EXPECT_NE(ReadKeyFile((dir.path() / "missing").string()).error, "");
}

// The window program's key: none is plain mode, a private one is secure mode,
// one that others can read stops it.
TEST(UserKeyFile, TurnsSecureModeOnWhenPresentAndPrivate) {
  TempDir dir;
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  std::string before = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(UserKeyPath(), (dir.path() / "kelpie/key").string());
  TestPeer plain, secure, refused;
  EXPECT_EQ(UseUserKeyFile(plain.program), "");
  std::filesystem::create_directory(dir.path() / "kelpie");
  NewKey(dir, "kelpie/key");
  EXPECT_EQ(UseUserKeyFile(secure.program), "");
  ::chmod(UserKeyPath().c_str(), 0644);
  EXPECT_NE(UseUserKeyFile(refused.program).find("chmod 600"), std::string::npos);
  EXPECT_FALSE(plain.program.state.network.Secure());
  EXPECT_TRUE(secure.program.state.network.Secure());
  EXPECT_FALSE(refused.program.state.network.Secure());
  saved ? ::setenv("XDG_CONFIG_HOME", before.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
}

// A man in the middle on loopback: once its one client has connected, it
// forwards both ways on a thread of its own and keeps every byte it saw.
class RecordingProxy {
 public:
  RecordingProxy() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_.get(), 1);
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  void Start(int targetPort) {
    sides_[0] = UniqueFd(::accept(listener_.get(), nullptr, nullptr));
    sides_[1] = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(targetPort);
    ::connect(sides_[1].get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    for (const UniqueFd& side : sides_)
      SetNoDelay(side.get());  // as the programs' own sockets
    thread_ = std::jthread([this](std::stop_token stop) { Forward(stop); });
  }
  // Everything seen in both directions; nothing is forwarded after.
  const Bytes& Stop() {
    thread_.request_stop();
    thread_.join();
    return seen_;
  }
  int port = 0;

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
  }
  void Forward(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      pollfd fds[2] = {{sides_[0].get(), POLLIN, 0}, {sides_[1].get(), POLLIN, 0}};
      if (::poll(fds, 2, 10) <= 0) continue;
      for (int from = 0; from < 2; ++from) {
        uint8_t buffer[65536];
        ssize_t n = fds[from].revents ? ::recv(sides_[from].get(), buffer, sizeof buffer, 0) : 0;
        seen_.insert(seen_.end(), buffer, buffer + std::max<ssize_t>(n, 0));
        for (ssize_t sent = 0, m = 0; sent < n; sent += m) {
          m = ::send(sides_[1 - from].get(), buffer + sent, static_cast<size_t>(n - sent),
                     MSG_NOSIGNAL);
          if (m <= 0) return;
        }
      }
    }
  }

  UniqueFd listener_, sides_[2];
  Bytes seen_;
  std::jthread thread_;  // last: it stops before the members it uses go
};

// True when some run of 64 bytes of file shows up anywhere in wire. Such a
// run holds a whole 32-byte piece of file at a multiple of 32, so looking the
// pieces up at every offset of wire finds every run (and a little more).
bool ShowsARunOf(const Bytes& file, const Bytes& wire) {
  constexpr size_t kPiece = 32;
  auto piece = [](const Bytes& bytes, size_t at) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()) + at, kPiece);
  };
  std::unordered_set<std::string_view> pieces;
  for (size_t at = 0; at + kPiece <= file.size(); at += kPiece)
    pieces.insert(piece(file, at));
  for (size_t at = 0; at + kPiece <= wire.size(); ++at) {
    if (pieces.contains(piece(wire, at))) return true;
  }
  return false;
}

class SecureSession : public ::testing::TestWithParam<int> {};

// Both protocol versions inside TLS: the rebuilt file is the peer's, and the
// proxy between the two programs saw none of it.
TEST_P(SecureSession, SynchronisesAFileAndShowsNoneOfItOnTheWire) {
  TempDir dir;
  std::string key = NewKey(dir, "key");
  Bytes peerBytes = RandomBytes(300000, 21);
  std::string peerPath = dir.Write("peer.bin", peerBytes);
  std::string localPath = dir.Write("local.bin", RandomBytes(200000, 22));
  std::string savedPath = (dir.path() / "saved.bin").string();

  TestPeer server, client;
  for (TestPeer* peer : {&server, &client}) {
    peer->program.state.NetVersion = GetParam();
    ASSERT_EQ(UseKeyFile(peer->program, key), "");
    EXPECT_TRUE(peer->Logged("Secure mode on: only peers holding the key in " + key +
                             " get in, over TLS 1.3"));
  }
  RecordingProxy proxy;
  ASSERT_TRUE(client.ConnectTo(proxy.port));
  proxy.Start(server.Listen());
  server.Offer(peerPath);
  client.Offer(localPath);
  auto run = [&](const std::function<bool()>& done) { return RunUntil({&server, &client}, done); };
  ASSERT_TRUE(run([&] { return client.window.RowCount(kServerFiles) == 1; }));

  ASSERT_TRUE(client.CompareRows(0, 0));
  ASSERT_TRUE(run([&] { return client.Logged("Comparison finished!"); }));
  client.window.SelectRow(kJobList, 0);
  client.program.Pass();
  client.AnswerSaveWith(savedPath);
  ASSERT_TRUE(client.Use(kSyncButton));
  ASSERT_TRUE(run([&] { return client.Logged("Syncronison complete!"); }));
  EXPECT_EQ(ReadFileBytes(savedPath), peerBytes);
  const Bytes& wire = proxy.Stop();
  ASSERT_GT(wire.size(), peerBytes.size());
  EXPECT_FALSE(ShowsARunOf(peerBytes, wire));
}

INSTANTIATE_TEST_SUITE_P(BothVersions, SecureSession, ::testing::Values(1, 2),
                         [](const auto& info) { return "Version" + std::to_string(info.param); });

int CountLines(const TestPeer& peer, std::string_view start, std::string_view end) {
  return static_cast<int>(std::count_if(
      peer.log.begin(), peer.log.end(),
      [&](const std::string& line) { return line.starts_with(start) && line.ends_with(end); }));
}

// Wrong key, no key and a raw version-1 client are turned away during the
// handshake while a client with the key goes on being served.
TEST(SecureServer, RefusesEveryPeerWithoutTheKeyAndKeepsServingTheOthers) {
  TempDir dir;
  std::string key = NewKey(dir, "key");
  TestPeer server, member, stranger, plain;
  ASSERT_EQ(UseKeyFile(server.program, key), "");
  ASSERT_EQ(UseKeyFile(member.program, key), "");
  ASSERT_EQ(UseKeyFile(stranger.program, NewKey(dir, "other")), "");
  int port = server.Listen();
  std::vector<TestPeer*> all = {&server, &member, &stranger, &plain};
  ASSERT_TRUE(member.ConnectTo(port));
  ASSERT_TRUE(RunUntil(all, [&] { return member.Logged("Server: 'OK' (Hello)"); }));

  ASSERT_TRUE(stranger.ConnectTo(port));
  ASSERT_TRUE(plain.ConnectTo(port));
  test::RawClient raw(port);
  raw.SendFrame(BuildHello(kClientGreeting, 1));
  ASSERT_TRUE(RunUntil(all, [&] {
    return CountLines(server, "Client(", ": refused: no valid key") == 3 &&
           stranger.Logged("Server: refused: no valid key");
  }));
  // None of them reached a message handler.
  EXPECT_EQ(CountLines(server, "Client(", "connected!"), 1);
  EXPECT_EQ(CountLines(server, "Client(", " - Hello! :)"), 1);
  EXPECT_EQ(server.program.state.network.ClientCount(), 1);

  member.Use(kServerRefresh);
  ASSERT_TRUE(RunUntil(
      all, [&] { return member.CountLogged("Server: 'OK' (FileList_Get) Files: 0") == 2; }));
}

// Connections still in their handshake hold their slots: with all 254 taken
// nobody else gets in until they go.
TEST(SecureServer, CountsHandshakingConnectionsAgainstItsSlots) {
  TempDir dir;
  std::string key = NewKey(dir, "key");
  TestPeer server, member;
  ASSERT_EQ(UseKeyFile(server.program, key), "");
  ASSERT_EQ(UseKeyFile(member.program, key), "");
  int port = server.Listen();
  std::vector<std::unique_ptr<test::RawClient>> silent;
  for (int i = 0; i < kMaxClients; ++i) {
    silent.push_back(std::make_unique<test::RawClient>(port));
    server.program.Pass();
  }
  ASSERT_TRUE(RunUntil({&server},
                       [&] { return server.program.state.network.ClientCount() == kMaxClients; }));
  ASSERT_TRUE(member.ConnectTo(port));
  ASSERT_TRUE(RunUntil({&server, &member}, [&] {
    return member.Logged("Server: refused: connection lost during the handshake");
  }));

  silent.clear();
  ASSERT_TRUE(RunUntil({&server}, [&] { return server.program.state.network.ClientCount() == 0; }));
  EXPECT_EQ(CountLines(server, "Client(", ": refused: connection lost during the handshake"),
            kMaxClients);
  EXPECT_EQ(server.program.state.tables.Clients.Count(), 0);
}

TEST(SecureClient, IsRefusedByAPlainServer) {
  TempDir dir;
  TestPeer server, client;
  ASSERT_EQ(UseKeyFile(client.program, NewKey(dir, "key")), "");
  ASSERT_TRUE(client.ConnectTo(server.Listen()));
  ASSERT_TRUE(RunUntil({&server, &client}, [&] {
    return client.Logged("Server: refused: no valid key") &&
           server.Logged("Client(1) disconnected!");
  }));
  EXPECT_EQ(client.window.RowCount(kServerFiles), 0);
}

// Handshakes that never finish are dropped after the limit on both sides,
// and the server's slot is free again.
TEST(SecureHandshake, IsDroppedWhenItStallsPastTheLimit) {
  TempDir dir;
  std::string key = NewKey(dir, "key");
  TestPeer server, client;
  for (TestPeer* peer : {&server, &client}) {
    ASSERT_EQ(UseKeyFile(peer->program, key), "");
    peer->program.state.network.SetHandshakeLimit(std::chrono::milliseconds(50));
  }
  int port = server.Listen();
  test::RawClient silent(port);
  ASSERT_TRUE(RunUntil(
      {&server}, [&] { return server.Logged("Client(1): refused: no handshake within 50 ms"); }));
  EXPECT_EQ(server.program.state.network.ClientCount(), 0);

  Network mute;  // listens, but never accepts or answers
  ASSERT_NE(mute.ServerOpen(0), 0);
  ASSERT_TRUE(client.ConnectTo(mute.ServerPort()));
  ASSERT_TRUE(RunUntil(
      {&client}, [&] { return client.Logged("Server: refused: no handshake within 50 ms"); }));
}

}  // namespace
}  // namespace kelpie
