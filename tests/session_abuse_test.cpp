// A client that sends garbage, truncated messages, unknown commands and
// out-of-range requests: every one is logged or dropped, nothing crashes and
// well-behaved clients go on undisturbed.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include "app/stop_signals.h"
#include "protocol/messages.h"
#include "support/temp_dir.h"
#include "support/test_peer.h"
#include "transport/little_endian.h"

namespace kelpie {
namespace {

using test::RandomBytes;
using test::RawClient;
using test::RunPasses;
using test::RunUntil;
using test::TempDir;
using test::TestPeer;

class HostileClient : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes = RandomBytes(5000, 4);
    path = dir.Write("offered.bin", bytes);
    port = server.Listen();
    server.Offer(path);
    raw = std::make_unique<RawClient>(port);
    ASSERT_TRUE(raw->connected());
    ASSERT_TRUE(
        RunUntil({&server}, [&] { return server.program.state.tables.Clients.Count() == 1; }));
    id = server.program.state.tables.Clients.At(0)->connection;
  }

  std::string Line(const std::string& rest) const {
    return "Client(" + std::to_string(id) + "): " + rest;
  }

  // Sends one payload as a frame and lets the server handle it.
  void Send(const std::vector<uint8_t>& payload) {
    raw->SendFrame(payload);
    RunPasses({&server}, 5);
  }

  // Opens a comparison of the offered file and returns its number.
  int32_t StartComparison() {
    Send(BuildCompareStart(path));
    for (const auto& frame : raw->Frames()) {
      auto ok = ReadOk(frame);
      if (ok && ok->acknowledged == CmdCompare_Start) return ok->value;
    }
    ADD_FAILURE() << "no OK (Compare_Start)";
    return 0;
  }

  std::optional<AnswerGetMessage> LastGetAnswer() {
    const auto& frames = raw->Frames();
    if (frames.empty() || MessageCommand(frames.back()) != CmdCompare_BlockAnswer) return {};
    last = frames.back();
    return ReadAnswerGet(last);
  }

  TempDir dir;
  std::vector<uint8_t> bytes;
  std::string path;
  TestPeer server;
  int port = 0;
  std::unique_ptr<RawClient> raw;
  ConnectionId id = 0;
  std::vector<uint8_t> last;
};

TEST_F(HostileClient, TruncatedMessagesAreLoggedAsMalformed) {
  struct Case {
    std::vector<uint8_t> payload;
    const char* line;
  };
  std::vector<Case> cases = {
      {{2, 0}, "Malformed 'Hello' ignored (2 bytes)"},
      {{3, 1, 'a'}, "Malformed 'FileList_Add' ignored (3 bytes)"},
      {{5, 0, 0}, "Malformed 'FileList_Get' ignored (3 bytes)"},
      {{7, 0, 1}, "Malformed 'Compare_Stop' ignored (3 bytes)"},
      {{8}, "Malformed 'Compare_Block' ignored (1 bytes)"},
      {{8, 1, 0, 0, 0, 0}, "Malformed 'Compare_Block' ignored (6 bytes)"},
      {{8, 0, 1, 2, 3}, "Malformed 'Compare_Block' ignored (5 bytes)"},
      {{9, 1, 0, 0}, "Malformed 'Compare_BlockAnswer' ignored (4 bytes)"},
      {{0, 2, 1}, "Malformed 'OK' ignored (3 bytes)"},
      {{1, 6}, "Malformed 'ERROR' ignored (2 bytes)"},
  };
  for (const Case& c : cases) {
    Send(c.payload);
    EXPECT_TRUE(server.Logged(Line(c.line))) << c.line;
  }
}

TEST_F(HostileClient, UnknownCommandsAndErrorsAreLogged) {
  Send({0x0A, 0});
  Send({0xC8});
  Send({4, 0, 0, 0, 0, 0});
  Send(BuildError(CmdCompare_Start, 0));
  Send(BuildError(CmdFileList_Get, 1));
  Send(BuildOk(42, 0));
  EXPECT_TRUE(server.Logged(Line("'Unknown command ($0A)'")));
  EXPECT_TRUE(server.Logged(Line("'Unknown command ($C8)'")));
  EXPECT_TRUE(server.Logged(Line("'Unknown command ($04)'")));
  EXPECT_TRUE(server.Logged(Line("'ERROR' (Compare_Start) couldn't open file!")));
  EXPECT_TRUE(server.Logged(Line("'ERROR' (Unknown)")));
  EXPECT_TRUE(server.Logged(Line("'OK' (Unknown)")));
  // A sub-code that is neither Check nor Get is passed over without a word.
  size_t before = server.log.size();
  Send({8, 5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  EXPECT_EQ(server.log.size(), before);
}

// Each piece arrives on its own, as a separate read would take it.
TEST_F(HostileClient, GarbageBytesAreDroppedAndTheStreamRecovers) {
  for (std::vector<uint8_t> garbage : std::vector<std::vector<uint8_t>>{
           {0xFF, 0xFF, 1, 2, 3},              // length word with its top bit set
           {6, 0, 5, 0, 0, 0, 0, 0, 0x77},     // wrong end byte
           {0, 0, 0, 0, 0, 0},                 // empty frames
           {3, 0, 0x0B, 0x0C, 0x0D, 0x01}}) {  // short frame, wrong end byte
    raw->SendBytes(garbage);
    RunPasses({&server}, 3);
  }
  Send(BuildFileListGet());
  EXPECT_TRUE(server.Logged(Line("'FileList_Get'")));
}

TEST_F(HostileClient, OutOfRangeGetsAreNeverServedBeyondTheFile) {
  int32_t fileId = StartComparison();
  ASSERT_NE(fileId, 0);
  struct Case {
    int32_t start, len;
    size_t served;
  };
  int32_t size = static_cast<int32_t>(bytes.size());
  for (Case c : {Case{-5, 100, 0}, Case{size - 10, 1000, 10}, Case{size, 10, 0},
                 Case{0, 100000, bytes.size()}, Case{INT32_MAX, INT32_MAX, 0}, Case{10, -4, 0}}) {
    Send(BuildBlockGet(fileId, c.start, c.len));
    auto answer = LastGetAnswer();
    ASSERT_TRUE(answer) << c.start << " " << c.len;
    EXPECT_EQ(answer->start, c.start);
    ASSERT_EQ(answer->data.size(), c.served) << c.start << " " << c.len;
    if (c.served > 0) {
      EXPECT_TRUE(std::equal(answer->data.begin(), answer->data.end(),
                             bytes.begin() + std::max(c.start, 0)));
    }
  }
}

// With no time to spare in a pass, each connection gets one message a pass:
// what a pass leaves is taken next pass without new bytes, and a client that
// keeps sending does not keep another one waiting.
TEST_F(HostileClient, APassLeavesTheRestForTheNextAndServesEveryClientInTurn) {
  server.program.passMessageTime = {};
  RawClient other(port);
  ASSERT_TRUE(
      RunUntil({&server}, [&] { return server.program.state.tables.Clients.Count() == 2; }));
  const std::vector<uint8_t> get = BuildFileListGet();
  for (int i = 0; i < 20; ++i)
    raw->SendFrame(get);
  other.SendFrame(get);
  ASSERT_TRUE(RunUntil({&server}, [&] { return server.CountLogged(Line("'FileList_Get'")) > 0; }));
  const std::string theirs = "Client(" +
                             std::to_string(server.program.state.tables.Clients.At(1)->connection) +
                             "): 'FileList_Get'";
  ASSERT_TRUE(RunUntil({&server}, [&] { return server.Logged(theirs); }));
  const auto ours = [&] { return server.CountLogged(Line("'FileList_Get'")); };
  EXPECT_LE(ours(), 5);
  for (int handled = ours(); handled < 20; ++handled) {
    server.program.Pass();
    EXPECT_EQ(ours(), handled + 1);
  }
}

// A check that a byte-by-byte search would spend hours on (zeros with random
// islands, StartLong 0, an MD5 of nothing) is answered, -1, and the server
// goes on greeting new clients.
TEST(HostileCheck, IsAnsweredWithinItsBoundAndOthersAreGreeted) {
  TempDir dir;
  std::vector<uint8_t> sparse(size_t{2} << 20, 0);
  for (size_t at = 4096; at + 512 < sparse.size(); at += 65536) {
    const std::vector<uint8_t> island = RandomBytes(512, static_cast<uint32_t>(at));
    std::copy(island.begin(), island.end(), sparse.begin() + static_cast<int64_t>(at));
  }
  const std::string path = dir.Write("sparse.bin", sparse);
  TestPeer server;
  const int port = server.Listen();
  server.Offer(path);
  RawClient hostile(port);
  hostile.SendFrame(BuildCompareStart(path));
  int32_t fileId = 0;
  ASSERT_TRUE(RunUntil({&server}, [&] {
    for (const auto& frame : hostile.Frames()) {
      if (auto ok = ReadOk(frame); ok && ok->acknowledged == CmdCompare_Start) fileId = ok->value;
    }
    return fileId != 0;
  }));
  hostile.SendFrame(BuildBlockCheck(fileId, 0, 524288, 0, std::string(32, 'e')));
  RawClient late(port);
  std::optional<AnswerCheckMessage> answer;
  bool greeted = false;
  ASSERT_TRUE(RunUntil({&server}, [&] {
    for (const auto& frame : hostile.Frames()) {
      if (MessageCommand(frame) == CmdCompare_BlockAnswer) answer = ReadAnswerCheck(frame);
    }
    for (const auto& frame : late.Frames())
      greeted = greeted || MessageCommand(frame) == CmdHello;
    return answer && greeted;
  }));
  EXPECT_EQ(answer->position, -1);
}

TEST_F(HostileClient, AnswersForJobsItDoesNotOwnChangeNothing) {
  TempDir other;
  TestPeer honest;
  ASSERT_TRUE(honest.ConnectTo(port));
  honest.Offer(other.Write("h.bin", RandomBytes(50000, 6)));
  ASSERT_TRUE(RunUntil({&server, &honest},
                       [&] { return server.program.state.tables.RemoteFiles.Count() == 1; }));
  ASSERT_TRUE(server.CompareRows(0, 0));
  ASSERT_TRUE(RunUntil({&server, &honest}, [&] { return server.Job(0)->state == kComparing; }));
  int32_t theirId = server.Job(0)->fileId;

  // The hostile client answers checks of the honest client's comparison.
  for (int i = 0; i < 20; ++i)
    raw->SendFrame(BuildAnswerCheck(theirId, 12345));
  raw->SendFrame(BuildAnswerGet(theirId, 0, 10, std::vector<uint8_t>(10, 0xEE)));
  ASSERT_TRUE(RunUntil({&server, &honest}, [&] { return server.Logged("Comparison finished!"); }));
  const RecordList* blocks = server.Job(0)->blocks.get();
  for (const uint8_t* r = PeekFirstRecord(blocks); r != nullptr; r = PeekNextRecord(r)) {
    EXPECT_NE(PeekRecordLong(blocks, r, kBlockFound), 12345);
  }
}

}  // namespace
}  // namespace kelpie

namespace kelpie {
namespace {

// The server compares its file with one a scripted client claims to offer;
// the script answers every request by hand.
class ScriptedResponder : public ::testing::Test {
 protected:
  void SetUp() override {
    port = server.Listen();
    peerBytes = RandomBytes(2000, 31);
    server.Offer(dir.Write("local.bin", RandomBytes(2000, 30)));
    raw = std::make_unique<RawClient>(port);
    ASSERT_TRUE(raw->connected());
    raw->SendFrame(BuildFileListAdd(std::string(32, 'a'), 2000, "/peer/x.bin"));
    ASSERT_TRUE(RunUntil({&server}, [&] { return server.window.RowCount(kClientFiles) == 1; }));
    ASSERT_TRUE(server.CompareRows(0, 0));
    Answer(CmdCompare_Start, [&](const std::vector<uint8_t>& request) {
      auto start = ReadCompareStart(request);
      return start ? BuildOkCompareStart(kFileId, start->path) : std::vector<uint8_t>{};
    });
  }

  // Waits for the next request with this command byte (others are passed
  // over) and sends the script's answer to it.
  void Answer(int8_t command,
              const std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)>& script) {
    auto next = [&] {
      const auto& frames = raw->Frames();
      while (handled < frames.size() && MessageCommand(frames[handled]) != command)
        ++handled;
      return handled < frames.size();
    };
    ASSERT_TRUE(RunUntil({&server}, next, 2000));
    std::vector<uint8_t> answer = script(raw->Frames()[handled++]);
    if (!answer.empty()) raw->SendFrame(answer);
    RunPasses({&server}, 3);
  }

  size_t handled = 0;  // frames from the server already looked at
  static constexpr int32_t kFileId = 77;
  TempDir dir;
  TestPeer server;
  int port = 0;
  std::vector<uint8_t> peerBytes;
  std::unique_ptr<RawClient> raw;
};

TEST_F(ScriptedResponder, AStaleGetAnswerIsNotStoredAtTheWrongPlace) {
  for (int i = 0; i < 10 && !server.Logged("Comparison finished!"); ++i) {
    Answer(CmdCompare_Block, [](const std::vector<uint8_t>& request) {
      auto check = ReadBlockCheck(request);
      return check ? BuildAnswerCheck(check->fileId, -1) : std::vector<uint8_t>{};
    });
  }
  std::string saved = (dir.path() / "saved.bin").string();
  server.AnswerSaveWith(saved);
  ASSERT_TRUE(server.PressJobButton(0));
  Answer(CmdCompare_Block, [&](const std::vector<uint8_t>& request) {
    auto get = ReadBlockGet(request);
    EXPECT_TRUE(get && get->start == 0 && get->len == 2000);
    // First an answer for another position, as a late one would be.
    raw->SendFrame(BuildAnswerGet(kFileId, 5, 100, std::vector<uint8_t>(100, 0xEE)));
    RunPasses({&server}, 3);
    EXPECT_EQ(server.Job(0)->state, kAwaitingData);
    EXPECT_EQ(server.Job(0)->position, 0);
    return BuildAnswerGet(kFileId, 0, 2000, peerBytes);
  });
  ASSERT_TRUE(RunUntil({&server}, [&] { return server.Logged("Syncronison complete!"); }));
  EXPECT_EQ(test::ReadFileBytes(saved), peerBytes);
}

// SIGTERM (as SIGINT) closes the program as closing the window does: the
// pass under way ends the loop. Last, as the signal stays caught for the
// rest of the process.
TEST(StopSignals, EndTheMainLoop) {
  CatchStopSignals();
  TestPeer peer;
  peer.program.Pass();
  EXPECT_EQ(peer.program.QuitRequested, 0);
  ::raise(SIGTERM);
  peer.program.Pass();
  EXPECT_EQ(peer.program.QuitRequested, 1);
}

}  // namespace
}  // namespace kelpie
