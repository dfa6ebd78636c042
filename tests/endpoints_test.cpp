#include "transport/endpoints.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>

#include "support/loopback.h"
#include "support/temp_dir.h"
#include "transport/frames.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

// A listening Network on a free loopback port that records every id it closes.
class EndpointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A send to a gone peer must survive the default action of SIGPIPE.
    std::signal(SIGPIPE, SIG_DFL);
    ASSERT_NE(server.NetStartup(), 0);
    server.SetClosedHandler([this](ConnectionId id) { closed.push_back(id); });
    ASSERT_NE(server.ServerOpen(0), 0);
  }

  test::AdmittedClient Client() {
    test::AdmittedClient client = test::ConnectRawClient(server);
    EXPECT_GT(client.id, 0);
    return client;
  }

  void Write(const test::AdmittedClient& client, const Bytes& bytes) {
    ASSERT_TRUE(test::WriteAll(client.socket.get(), bytes));
    ASSERT_TRUE(test::WaitUntil(server, [&] { return server.ConnectionPoll(client.id) == 2; }));
  }

  // The next event the server reports, waiting while there is none.
  int32_t NextEvent() {
    int32_t event = EventNone;
    test::WaitUntil(server, [&] { return (event = server.ServerPoll()) != EventNone; });
    return event;
  }

  Network server;
  std::vector<ConnectionId> closed;
};

TEST_F(EndpointsTest, OpenListenerReportsItsPortAndNoEvent) {
  EXPECT_GT(server.ServerPort(), 0);
  EXPECT_EQ(server.ServerPoll(), EventNone);
  EXPECT_EQ(server.ServerEventConnection(), 0);
  EXPECT_EQ(server.ClientCount(), 0);
}

TEST_F(EndpointsTest, ConnectIsReportedBeforeData) {
  test::AdmittedClient first = Client();
  Write(first, {1, 2, 3});
  UniqueFd second = test::ConnectRaw(server.ServerPort());
  ASSERT_TRUE(test::WaitFor(test::ListenerFd(server), POLLIN));

  ASSERT_EQ(server.ServerPoll(), EventConnected);
  ConnectionId secondId = server.ServerEventConnection();
  EXPECT_GT(secondId, first.id);
  EXPECT_EQ(server.ClientCount(), 2);
  ASSERT_EQ(server.ServerPoll(), EventData);
  EXPECT_EQ(server.ServerEventConnection(), first.id);
}

TEST_F(EndpointsTest, LowestSlotIsReportedUntilItHasNothingPending) {
  test::AdmittedClient first = Client();
  test::AdmittedClient second = Client();
  Write(second, {9});
  Write(first, {1, 2});
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(server.ServerPoll(), EventData);
    EXPECT_EQ(server.ServerEventConnection(), first.id);
  }
  uint8_t bytes[8];
  ASSERT_EQ(server.ConnectionReceive(first.id, bytes, sizeof bytes), 2);
  ASSERT_EQ(server.ServerPoll(), EventData);
  EXPECT_EQ(server.ServerEventConnection(), second.id);
}

TEST_F(EndpointsTest, DisconnectIsReportedOnceAndTheSlotIsReused) {
  test::AdmittedClient first = Client();
  test::AdmittedClient second = Client();
  first.socket.Reset();
  ASSERT_EQ(NextEvent(), EventDisconnected);
  EXPECT_EQ(server.ServerEventConnection(), first.id);
  EXPECT_EQ(closed, std::vector<ConnectionId>{first.id});
  EXPECT_EQ(server.ClientCount(), 1);
  EXPECT_EQ(server.ServerPoll(), EventNone);

  test::AdmittedClient third = Client();
  EXPECT_GT(third.id, second.id);  // ids are never reused
  Write(second, {1});
  Write(third, {2});
  ASSERT_EQ(server.ServerPoll(), EventData);
  EXPECT_EQ(server.ServerEventConnection(), third.id);  // slot 0 again
}

TEST_F(EndpointsTest, ErrorOnPeekCountsAsDisconnect) {
  test::AdmittedClient client = Client();
  linger reset{1, 0};  // close with a reset instead of an orderly end
  ASSERT_EQ(::setsockopt(client.socket.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
  client.socket.Reset();
  ASSERT_EQ(NextEvent(), EventDisconnected);
  EXPECT_EQ(server.ServerEventConnection(), client.id);
  EXPECT_EQ(server.ClientCount(), 0);
}

TEST_F(EndpointsTest, ConnectionBeyondTheTableIsClosedAtOnce) {
  std::vector<test::AdmittedClient> clients;
  for (int32_t i = 0; i < kMaxClients; ++i) {
    clients.push_back(test::ConnectRawClient(server));
    ASSERT_GT(clients.back().id, 0) << i;
  }
  EXPECT_EQ(server.ClientCount(), kMaxClients);

  UniqueFd extra = test::ConnectRaw(server.ServerPort());
  ASSERT_TRUE(extra.valid());
  ASSERT_TRUE(test::WaitFor(test::ListenerFd(server), POLLIN));
  EXPECT_EQ(server.ServerPoll(), EventNone);
  EXPECT_TRUE(test::WaitPeerClosed(extra.get()));
  EXPECT_EQ(server.ClientCount(), kMaxClients);
  EXPECT_TRUE(closed.empty());

  clients.front().socket.Reset();
  ASSERT_EQ(NextEvent(), EventDisconnected);
  EXPECT_GT(test::ConnectRawClient(server).id, 0);
}

TEST_F(EndpointsTest, ServerCloseEndsEveryClientAndAllEvents) {
  test::AdmittedClient client = Client();
  Write(client, {1});
  server.ServerClose();
  EXPECT_EQ(server.ServerPoll(), EventNone);
  EXPECT_EQ(server.ClientCount(), 0);
  EXPECT_EQ(server.ServerPort(), 0);
  EXPECT_EQ(closed, std::vector<ConnectionId>{client.id});
  EXPECT_TRUE(test::WaitPeerClosed(client.socket.get()));
}

TEST_F(EndpointsTest, PortInUseCannotBeOpenedAgain) {
  Network other;
  EXPECT_EQ(other.ServerOpen(server.ServerPort()), 0);
  EXPECT_EQ(other.ServerOpen(server.ServerPort() | 0x10000), 0);  // low 16 bits name the port
  EXPECT_EQ(other.ServerPort(), 0);
  EXPECT_NE(other.ServerOpen(0x10000), 0);  // port 0: any free one
  EXPECT_GT(other.ServerPort(), 0);
}

TEST_F(EndpointsTest, ConnectionCloseFreesTheSlotAndTheId) {
  test::AdmittedClient client = Client();
  server.ConnectionClose(client.id);
  server.ConnectionClose(0);
  server.ConnectionClose(-3);
  EXPECT_EQ(closed, std::vector<ConnectionId>{client.id});
  EXPECT_EQ(server.ClientCount(), 0);
  EXPECT_FALSE(server.IsOpen(client.id));
  EXPECT_EQ(server.ConnectionSend(client.id, Bytes{1}), -1);
  EXPECT_TRUE(test::WaitPeerClosed(client.socket.get()));
}

TEST_F(EndpointsTest, NetShutdownClosesListenerAndEveryConnection) {
  test::AdmittedClient client = Client();
  test::RawListener listener;
  ConnectionId outgoing = server.ClientConnect("127.0.0.1", listener.port());
  ASSERT_GT(outgoing, 0);
  server.NetShutdown();
  EXPECT_EQ(closed, (std::vector<ConnectionId>{client.id, outgoing}));
  EXPECT_FALSE(server.IsOpen(outgoing));
  std::vector<pollfd> fds;
  server.AppendPollFds(fds);
  EXPECT_TRUE(fds.empty());
}

struct ConnectCase {
  const char* name;
  const char* host;
  bool listening;
  bool connects;
};

void PrintTo(const ConnectCase& c, std::ostream* out) {
  *out << c.host << ":" << c.listening;
}

class ClientConnect : public ::testing::TestWithParam<ConnectCase> {};

// Minimal systems (containers, chroots) may have no hosts file to name the
// loopback address.
bool ResolvesLocalhost() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo("localhost", nullptr, &hints, &found) != 0) return false;
  ::freeaddrinfo(found);
  return true;
}

TEST_P(ClientConnect, ResolvesAndConnectsOrReportsZero) {
  if (std::string(GetParam().host) == "localhost" && !ResolvesLocalhost()) {
    GTEST_SKIP() << "this system does not resolve localhost";
  }
  Network network;
  std::optional<test::RawListener> listener(std::in_place);
  int32_t port = listener->port();
  if (!GetParam().listening) listener.reset();  // nothing listens there any more
  ConnectionId id = network.ClientConnect(GetParam().host, port);
  if (GetParam().connects) {
    EXPECT_GT(id, 0);
    EXPECT_TRUE(listener->Accept().valid());
  } else {
    EXPECT_EQ(id, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Endpoints, ClientConnect,
                         ::testing::Values(ConnectCase{"DottedAddress", "127.0.0.1", true, true},
                                           ConnectCase{"HostName", "localhost", true, true},
                                           ConnectCase{"Refused", "127.0.0.1", false, false},
                                           ConnectCase{"Unresolvable", "no-such-host.invalid", true,
                                                       false},
                                           ConnectCase{"EmptyHost", "", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Endpoints, OutgoingIdsArePositiveAndNeverReused) {
  Network network;
  test::RawListener listener;
  ConnectionId first = network.ClientConnect("127.0.0.1", listener.port());
  network.ConnectionClose(first);
  ConnectionId second = network.ClientConnect("127.0.0.1", listener.port());
  EXPECT_GT(first, 0);
  EXPECT_GT(second, first);
}

// A client Network connected to a raw peer.
struct Outgoing {
  Outgoing() {
    std::signal(SIGPIPE, SIG_DFL);
    network.SetClosedHandler([this](ConnectionId closedId) { closed.push_back(closedId); });
    id = network.ClientConnect("127.0.0.1", listener.port());
    peer = listener.Accept();
  }

  Network network;
  test::RawListener listener;
  ConnectionId id = 0;
  UniqueFd peer;
  std::vector<ConnectionId> closed;
};

TEST(Endpoints, SendToAGonePeerFailsWithoutKillingTheProcess) {
  Outgoing out;
  ASSERT_GT(out.id, 0);
  out.peer.Reset();
  Bytes chunk(1024, 7);
  ASSERT_TRUE(test::WaitUntil(out.network,
                              [&] { return out.network.ConnectionSend(out.id, chunk) == -1; }));
  EXPECT_EQ(out.closed, std::vector<ConnectionId>{out.id});
  EXPECT_FALSE(out.network.IsOpen(out.id));
  EXPECT_EQ(out.network.ConnectionPoll(out.id), 0);
  EXPECT_EQ(out.network.ConnectionSend(out.id, chunk), -1);
  out.network.ConnectionClose(out.id);  // the owner drops the id; reported once only
  EXPECT_EQ(out.closed.size(), 1u);
}

TEST_F(EndpointsTest, FailedSendToAClientIsStillReportedAsDisconnect) {
  test::AdmittedClient client = Client();
  client.socket.Reset();
  Bytes chunk(1024, 7);
  ASSERT_TRUE(
      test::WaitUntil(server, [&] { return server.ConnectionSend(client.id, chunk) == -1; }));
  EXPECT_EQ(server.ServerPoll(), EventDisconnected);
  EXPECT_EQ(server.ServerEventConnection(), client.id);
  EXPECT_EQ(server.ServerPoll(), EventNone);
  EXPECT_EQ(server.ClientCount(), 0);
  EXPECT_EQ(closed, std::vector<ConnectionId>{client.id});
}

TEST(Endpoints, PeerThatClosedLeavesTheIdleWaitButKeepsItsId) {
  Outgoing out;
  std::vector<pollfd> fds;
  out.network.AppendPollFds(fds);
  ASSERT_EQ(fds.size(), 1u);
  out.peer.Reset();
  ASSERT_TRUE(test::WaitUntil(out.network, [&] {
    out.network.ConnectionPoll(out.id);
    fds.clear();
    out.network.AppendPollFds(fds);
    return fds.empty();
  }));
  EXPECT_EQ(out.network.ConnectionPoll(out.id), 0);
  EXPECT_TRUE(out.network.IsOpen(out.id));
  EXPECT_TRUE(out.closed.empty());
}

TEST(Endpoints, PendingOutputPastTheLimitGivesTheConnectionUp) {
  Outgoing out;  // the peer never reads
  Bytes chunk(1 << 20, 5);
  size_t accepted = 0;
  while (out.network.ConnectionSend(out.id, chunk) > 0) {
    accepted += chunk.size();
    ASSERT_LE(accepted, 2 * kMaxPendingOutput);
  }
  EXPECT_GE(accepted, kMaxPendingOutput);
  EXPECT_EQ(out.closed, std::vector<ConnectionId>{out.id});
  EXPECT_FALSE(out.network.HasPendingOutput(out.id));
}

// Sends a burst of frames (at least 1 MiB, and on until the socket has refused
// bytes so the pending queue is in use), then lets the receiver take one frame
// step per pass: the sender must flush in order and deliver every frame whole.
TEST(Endpoints, BurstOfFramesArrivesWholeAndInOrderThroughASlowReader) {
  Network serverSide;
  Network clientSide;
  Frames serverFrames(serverSide);
  Frames clientFrames(clientSide);
  ASSERT_NE(serverSide.ServerOpen(0), 0);
  ConnectionId clientId = clientSide.ClientConnect("127.0.0.1", serverSide.ServerPort());
  ASSERT_GT(clientId, 0);
  ASSERT_TRUE(test::WaitFor(test::ListenerFd(serverSide), POLLIN));
  ASSERT_EQ(serverSide.ServerPoll(), EventConnected);
  ConnectionId serverId = serverSide.ServerEventConnection();

  std::vector<Bytes> sent;
  size_t total = 0;
  for (uint32_t seed = 0; total < (1u << 20) || !clientSide.HasPendingOutput(clientId); ++seed) {
    ASSERT_LT(total, kMaxPendingOutput / 2) << "the socket never refused a byte";
    size_t size = seed % 3 == 2 ? 17 : kMaxPayload - seed % 1000;
    sent.push_back(test::RandomBytes(size, seed));
    ASSERT_EQ(clientFrames.SendFrame(clientId, sent.back()), 0);
    total += size + kFrameOverhead;
  }

  std::vector<Bytes> received;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (received.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
    clientSide.FlushPending();
    if (serverFrames.ReceiveFrame(serverId) > 0) {
      std::span<const uint8_t> payload = serverFrames.ReceivedFrame();
      received.emplace_back(payload.begin(), payload.end());
    }
    std::vector<pollfd> fds;
    serverSide.AppendPollFds(fds);
    clientSide.AppendPollFds(fds);
    ::poll(fds.data(), fds.size(), 1);
  }
  ASSERT_EQ(received.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i)
    ASSERT_EQ(received[i], sent[i]) << "frame " << i;
  EXPECT_FALSE(clientSide.HasPendingOutput(clientId));
}

}  // namespace
}  // namespace kelpie
