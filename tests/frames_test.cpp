#include "transport/frames.h"

#include <gtest/gtest.h>

#include <string>

#include "support/loopback.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes Frame(const Bytes& payload, uint8_t endByte = 0) {
  Bytes frame{static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(endByte);
  return frame;
}

Bytes WithoutLast(Bytes bytes) {
  bytes.pop_back();
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A Network serving one raw loopback client; the frames under test are read on
// the server side of that connection.
class FramesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(server.ServerOpen(0), 0);
    client = test::ConnectRawClient(server);
    ASSERT_GT(client.id, 0);
  }

  // Writes bytes from the raw client and waits until they are pending at the server.
  void Arrive(const Bytes& bytes) {
    ASSERT_TRUE(test::WriteAll(client.socket.get(), bytes));
    ASSERT_TRUE(test::WaitUntil(server, [&] { return server.ConnectionPoll(client.id) == 2; }));
  }

  Bytes Received() const {
    std::span<const uint8_t> frame = frames.ReceivedFrame();
    return Bytes(frame.begin(), frame.end());
  }

  // Calls ReceiveFrame until it delivers, waiting for bytes in between.
  int32_t ReceiveWhole() {
    int32_t length = 0;
    test::WaitUntil(server, [&] { return (length = frames.ReceiveFrame(client.id)) > 0; });
    return length;
  }

  int32_t Fill() const { return frames.FindBuffer(client.id)->fill; }

  Network server;
  Frames frames{server};
  test::AdmittedClient client;
};

struct ReassemblyCase {
  const char* name;
  Bytes wire;                  // arrives in one read
  std::vector<int32_t> calls;  // results of successive ReceiveFrame calls
  std::vector<Bytes> payloads;
  int32_t fillAfter;
  int32_t capacityAfter;
};

void PrintTo(const ReassemblyCase& c, std::ostream* out) {
  *out << c.name;
}

class Reassembly : public FramesTest, public ::testing::WithParamInterface<ReassemblyCase> {};

TEST_P(Reassembly, DeliversExactlyTheWholeFrames) {
  const ReassemblyCase& c = GetParam();
  Arrive(c.wire);
  std::vector<Bytes> delivered;
  for (int32_t expected : c.calls) {
    int32_t length = frames.ReceiveFrame(client.id);
    ASSERT_EQ(length, expected);
    if (length > 0) delivered.push_back(Received());
  }
  EXPECT_EQ(delivered, c.payloads);
  EXPECT_EQ(Fill(), c.fillAfter);
  EXPECT_EQ(frames.FindBuffer(client.id)->capacity, c.capacityAfter);
  EXPECT_EQ(server.ConnectionPoll(client.id), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Reassembly,
    ::testing::Values(
        ReassemblyCase{"TwoFramesInOneRead",
                       Join({Frame(Text("abc")), Frame(Text("hello"))}),
                       {3, 5, 0},
                       {Text("abc"), Text("hello")},
                       0,
                       2048},
        ReassemblyCase{
            "EmptyFrameDropped", Join({Frame({}), Frame(Text("x"))}), {1, 0}, {Text("x")}, 0, 2048},
        ReassemblyCase{"ZeroRunDropped",
                       Join({Bytes(9, 0), Frame(Text("xy"))}),
                       {2, 0},
                       {Text("xy")},
                       0,
                       2048},
        // A stray zero ahead of a frame shifts the head: 00 02 reads as 512.
        ReassemblyCase{"ZeroRunOffByOneShiftsTheHead",
                       Join({Bytes(10, 0), Frame(Text("xy"))}),
                       {0},
                       {},
                       6,
                       2048},
        // 00 00 41: one byte goes; 00 41 is then too short to look at.
        ReassemblyCase{"ZeroWordLosesOneByte", {0x00, 0x00, 0x41}, {0}, {}, 2, 2048},
        // 00 00 41 41: one byte goes; 00 41 41 heads a frame of 0x4100 bytes.
        ReassemblyCase{"ZeroWordThenHead", {0x00, 0x00, 0x41, 0x41}, {0}, {}, 3, 3072},
        ReassemblyCase{"WrongEndByteDiscardsAllHeld",
                       Join({Frame(Text("abc"), 0x01), Frame(Text("def"))}),
                       {0, 0},
                       {},
                       0,
                       2048},
        ReassemblyCase{"TopBitDiscardsAllHeld",
                       Join({{0x01, 0x80, 0x41, 0x42}, Frame(Text("ok"))}),
                       {0, 0},
                       {},
                       0,
                       2048},
        ReassemblyCase{"LengthFFFFDiscardsAllHeld",
                       Join({{0xFF, 0xFF, 0x00}, Frame(Text("ok"))}),
                       {0},
                       {},
                       0,
                       2048},
        ReassemblyCase{
            "IncompleteFrameWaits", WithoutLast(Frame(Bytes(100, 7))), {0, 0}, {}, 102, 2048}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FramesTest, ByteAtATimeDeliversOnlyWhenWhole) {
  Bytes wire = Frame(Text("hello"));
  for (size_t i = 0; i + 1 < wire.size(); ++i) {
    Arrive({wire[i]});
    EXPECT_EQ(frames.ReceiveFrame(client.id), 0);
    EXPECT_EQ(Fill(), static_cast<int32_t>(i + 1));
  }
  Arrive({wire.back()});
  EXPECT_EQ(frames.ReceiveFrame(client.id), 5);
  EXPECT_EQ(Received(), Text("hello"));
}

TEST_F(FramesTest, LargeFrameGrowsTheBlockOneStepPerCall) {
  Bytes payload = test::RandomBytes(3000, 1);
  Arrive(Frame(payload));
  EXPECT_EQ(frames.ReceiveFrame(client.id), 0);
  EXPECT_EQ(frames.FindBuffer(client.id)->capacity, 3072);
  ASSERT_EQ(ReceiveWhole(), 3000);
  EXPECT_EQ(Received(), payload);
  EXPECT_EQ(frames.FindBuffer(client.id)->capacity, 3072);
}

TEST_F(FramesTest, LargestPayloadIsDelivered) {
  Bytes payload = test::RandomBytes(kMaxPayload, 2);
  Arrive(Frame(payload));
  ASSERT_EQ(ReceiveWhole(), kMaxPayload);
  EXPECT_EQ(Received(), payload);
  // 2048 grown in steps of 1024 until 32767 + 3 bytes fit.
  EXPECT_EQ(frames.FindBuffer(client.id)->capacity, 33792);
}

// The wire stream of many frames, fed in pieces of one size per case.
class Pieces : public FramesTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(Pieces, EveryPayloadArrivesByteForByte) {
  std::vector<Bytes> sent;
  Bytes wire;
  uint32_t seed = 10;
  for (int32_t size : {1, 2, 3, 100, 2044, 2045, 2046, 2047, 3000, 5, kMaxPayload, 1024, 7}) {
    sent.push_back(test::RandomBytes(static_cast<size_t>(size), seed++));
    Bytes frame = Frame(sent.back());
    wire.insert(wire.end(), frame.begin(), frame.end());
  }

  std::vector<Bytes> received;
  size_t taken = 0;  // bytes delivered as frames
  auto drain = [&] {
    while (int32_t length = frames.ReceiveFrame(client.id)) {
      received.push_back(Received());
      taken += static_cast<size_t>(length) + kFrameOverhead;
    }
    return taken + static_cast<size_t>(Fill());
  };
  for (size_t at = 0; at < wire.size(); at += GetParam()) {
    size_t end = std::min(wire.size(), at + GetParam());
    ASSERT_TRUE(test::WriteAll(client.socket.get(), std::span(wire).subspan(at, end - at)));
    ASSERT_TRUE(test::WaitUntil(server, [&] { return drain() == end; })) << "at " << at;
  }
  ASSERT_TRUE(test::WaitUntil(server, [&] { return drain() == wire.size() && Fill() == 0; }));
  EXPECT_EQ(received, sent);
}

INSTANTIATE_TEST_SUITE_P(Frames, Pieces, ::testing::Values(1, 2, 3, 7, 15, 100, 10000));

class SendFrameWire : public FramesTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(SendFrameWire, LengthPayloadAndZeroEndByte) {
  Bytes payload = test::RandomBytes(static_cast<size_t>(GetParam()), 3);
  ASSERT_EQ(frames.SendFrame(client.id, payload), 0);
  Bytes wire = test::ReadExactly(client.socket.get(), payload.size() + 3);
  EXPECT_EQ(wire, Frame(payload));
}

INSTANTIATE_TEST_SUITE_P(Frames, SendFrameWire, ::testing::Values(1, 255, 256, kMaxPayload));

TEST_F(FramesTest, SendFrameOfSixBytes) {
  ASSERT_EQ(frames.SendFrame(client.id, Text("abcdef")), 0);
  EXPECT_EQ(test::ReadExactly(client.socket.get(), 9),
            (Bytes{0x06, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 0x00}));
}

TEST_F(FramesTest, SendFrameRefusesPayloadPastTheLimit) {
  EXPECT_EQ(frames.SendFrame(client.id, Bytes(kMaxPayload + 1, 9)), -1);
  ASSERT_EQ(frames.SendFrame(client.id, Text("z")), 0);
  EXPECT_EQ(test::ReadExactly(client.socket.get(), 4), (Bytes{0x01, 0x00, 'z', 0x00}));
}

TEST_F(FramesTest, RecordMadeOnFirstCallEvenWithoutData) {
  EXPECT_EQ(frames.ReceiveFrame(client.id), 0);
  ASSERT_NE(frames.FindBuffer(client.id), nullptr);
  EXPECT_EQ(frames.FindBuffer(client.id)->capacity, kReceiveInitialCapacity);
  EXPECT_EQ(frames.FindBuffer(client.id)->buffer.size(), size_t{kReceiveInitialCapacity});
  EXPECT_EQ(Fill(), 0);
  EXPECT_EQ(frames.BufferCount(), 1);
}

TEST_F(FramesTest, RecordDroppedWhenPeerDisconnects) {
  Arrive({0x05, 0x00, 'a'});
  EXPECT_EQ(frames.ReceiveFrame(client.id), 0);
  client.socket.Reset();
  int32_t event = EventNone;
  ASSERT_TRUE(test::WaitUntil(server, [&] { return (event = server.ServerPoll()) != EventNone; }));
  EXPECT_EQ(event, EventDisconnected);
  EXPECT_EQ(frames.BufferCount(), 0);
}

TEST_F(FramesTest, RecordDroppedOnCloseAndNeverRemade) {
  EXPECT_EQ(frames.ReceiveFrame(client.id), 0);
  server.ConnectionClose(client.id);
  EXPECT_EQ(frames.BufferCount(), 0);
  EXPECT_EQ(frames.ReceiveFrame(client.id), 0);
  EXPECT_EQ(frames.BufferCount(), 0);
}

TEST_F(FramesTest, ReceivedFrameIsSharedAndKeptUntilNextDelivery) {
  test::AdmittedClient other = test::ConnectRawClient(server);
  ASSERT_GT(other.id, 0);
  Arrive(Frame(Text("first")));
  ASSERT_EQ(frames.ReceiveFrame(client.id), 5);
  EXPECT_EQ(frames.ReceiveFrame(other.id), 0);
  EXPECT_EQ(Received(), Text("first"));
  ASSERT_TRUE(test::WriteAll(other.socket.get(), Frame(Text("second"))));
  int32_t length = 0;
  ASSERT_TRUE(
      test::WaitUntil(server, [&] { return (length = frames.ReceiveFrame(other.id)) > 0; }));
  EXPECT_EQ(Received(), Text("second"));
}

TEST_F(FramesTest, FreeFrameBuffersReleasesEverything) {
  Arrive(Frame(Text("abc")));
  ASSERT_EQ(frames.ReceiveFrame(client.id), 3);
  frames.FreeFrameBuffers();
  EXPECT_EQ(frames.BufferCount(), 0);
  EXPECT_TRUE(frames.ReceivedFrame().empty());
}

TEST_F(FramesTest, ClosingAfterAFramesLayerIsGoneIsSafe) {
  {
    Frames shortLived(server);
    EXPECT_EQ(shortLived.ReceiveFrame(client.id), 0);
  }
  server.ConnectionClose(client.id);  // must not reach the destroyed layer
  EXPECT_FALSE(server.IsOpen(client.id));
}

}  // namespace
}  // namespace kelpie
