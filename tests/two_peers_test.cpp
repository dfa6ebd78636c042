// Two program states in one process, a server and a client, exchanging real
// protocol messages through their engines: a comparison started on either
// side must rebuild the peer's file byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "compare/engine.h"
#include "compare/sync.h"
#include "protocol/messages.h"
#include "support/engine_pair.h"
#include "support/temp_dir.h"
#include "transport/frames.h"
#include "transport/little_endian.h"

namespace kelpie {
namespace {

using test::EnginePair;
using test::EngineSide;
using test::Envelope;
using test::RandomBytes;
using test::ReadFileBytes;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
               bytes.begin() + static_cast<ptrdiff_t>(to));
}

struct Files {
  Bytes local;
  Bytes peer;
};

struct Scenario {
  const char* name;
  std::function<Files()> make;
  int64_t maxFetched;  // bytes the initiator may fetch at most
};

const Scenario kScenarios[] = {
    {"Identical",
     [] {
       Bytes b = RandomBytes(1048676, 1);
       return Files{b, b};
     },
     0},
    {"OneByteEdited",
     [] {
       Bytes local = RandomBytes(600000, 2);
       Bytes peer = local;
       peer[300000] ^= 0xFF;
       return Files{local, peer};
     },
     1023},
    {"InsertedInTheMiddle",
     [] {
       Bytes local = RandomBytes(100000, 3);
       return Files{local, Concat({Slice(local, 0, 50000), RandomBytes(333, 4),
                                   Slice(local, 50000, 100000)})};
     },
     333 + 2 * 1023},
    {"DeletedInTheMiddle",
     [] {
       Bytes local = RandomBytes(100000, 5);
       return Files{local, Concat({Slice(local, 0, 50000), Slice(local, 50333, 100000)})};
     },
     2 * 1023},
    {"BlockMoved",
     [] {
       Bytes local = RandomBytes(100000, 6);
       return Files{local, Concat({Slice(local, 0, 10000), Slice(local, 20000, 75000),
                                   Slice(local, 10000, 20000), Slice(local, 75000, 100000)})};
     },
     4 * 1023},
    {"Appended",
     [] {
       Bytes local = RandomBytes(600000, 7);
       return Files{local, Concat({local, RandomBytes(5000, 8)})};
     },
     5000},
    {"PeerTruncated",
     [] {
       Bytes local = RandomBytes(530000, 9);
       return Files{local, Slice(local, 0, 527000)};
     },
     1023},
    {"LocalLongerThanPeer",
     [] {
       Bytes peer = RandomBytes(60000, 10);
       return Files{Concat({RandomBytes(40000, 11), peer, RandomBytes(20000, 12)}), peer};
     },
     2 * 1023},
    {"LocalEmpty",
     [] {
       return Files{{}, RandomBytes(50000, 13)};
     },
     50000},
    {"PeerEmpty",
     [] {
       return Files{RandomBytes(50000, 14), {}};
     },
     0},
    {"BothEmpty",
     [] {
       return Files{{}, {}};
     },
     0},
    {"ShareNothing",
     [] {
       return Files{RandomBytes(65536, 15), RandomBytes(65536, 16)};
     },
     65536},
};

// Runs one comparison and synchronisation from the initiator's side.
class TwoPeers : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(peerDir()); }
  std::filesystem::path peerDir() const { return dir_.path() / "peer"; }

  // Offers the peer's file on the responder, lists it on the initiator and
  // starts the comparison there.
  CompareJob& Start(EngineSide& initiator, const Files& files) {
    EngineSide& responder = pair_.Other(initiator);
    std::string peerPath = (peerDir() / "file.bin").string();
    WriteFile(peerPath, files.peer);
    FileEntry& offered = responder.OfferFile(peerPath);
    FileEntry& remote = pair_.Announce(responder, offered);
    FileEntry& local = initiator.OfferFile(dir_.Write("file.bin", files.local));
    return *StartComparison(initiator.tables, initiator.host, local, remote);
  }

  static void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

  // Synchronises a compared job and saves it; returns the saved bytes.
  Bytes Synchronise(EngineSide& initiator, CompareJob& job) {
    initiator.host.savePath = (dir_.path() / "rebuilt.bin").string();
    StartSynchronisation(job);
    EXPECT_TRUE(pair_.RunUntilQuiet());
    return ReadFileBytes(initiator.host.savePath);
  }

  EngineSide& Initiator(bool server) { return server ? pair_.server : pair_.client; }

  TempDir dir_;
  EnginePair pair_;
};

class RoundTrip : public TwoPeers,
                  public ::testing::WithParamInterface<std::tuple<Scenario, bool>> {};

TEST_P(RoundTrip, RebuildsThePeersFile) {
  const auto& [scenario, serverInitiates] = GetParam();
  const Files files = scenario.make();
  EngineSide& initiator = Initiator(serverInitiates);
  EngineSide& responder = pair_.Other(initiator);
  CompareJob& job = Start(initiator, files);
  EXPECT_EQ(job.peer, serverInitiates ? EnginePair::kClientId : 0);

  ASSERT_TRUE(pair_.RunUntilQuiet());
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(initiator.host.Count("Comparison finished!"), 1);
  ASSERT_EQ(responder.tables.CompareJobs.Count(), 1);
  const CompareJob& served = *responder.tables.CompareJobs.At(0);
  EXPECT_EQ(served.position, static_cast<int32_t>(files.peer.size()));  // Compare_Stop arrived
  EXPECT_EQ(served.fileId, job.fileId);

  EXPECT_EQ(Synchronise(initiator, job), files.peer);
  EXPECT_EQ(initiator.host.Count("Syncronison complete!"), 1);
  EXPECT_LE(initiator.host.bytesAsked, scenario.maxFetched);
  if (std::string(scenario.name) == "Identical") {
    EXPECT_EQ(initiator.host.checksSent, 3);
    EXPECT_EQ(initiator.host.getsSent, 0);
  }
  EXPECT_TRUE(responder.host.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kScenarios), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_ServerInitiates"
                                                           : "_ClientInitiates");
                         });

// A hostile peer.

TEST_F(TwoPeers, GetOutsideTheFileIsServedOnlyWithinIt) {
  Bytes peer = RandomBytes(40000, 20);
  CompareJob& job = Start(pair_.client, Files{peer, peer});
  ASSERT_TRUE(pair_.RunUntilQuiet());
  struct Request {
    int32_t start;
    int32_t len;
    size_t from;
    size_t served;
  };
  const Request requests[] = {{-100, 50, 0, 0},     {39990, 1000, 39990, 10},
                              {INT32_MAX, 5, 0, 0}, {0, -1, 0, 0},
                              {0, 40000, 0, 32753}, {INT32_MAX - 3, INT32_MAX, 0, 0}};
  for (const Request& r : requests) {
    pair_.server.Handle(EnginePair::kClientId, BuildBlockGet(job.fileId, r.start, r.len));
    ASSERT_EQ(pair_.server.host.outbox.size(), 1u);
    std::optional<AnswerGetMessage> answer = ReadAnswerGet(pair_.server.host.outbox[0].payload);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->start, r.start);
    EXPECT_EQ(answer->len, r.len);
    ASSERT_EQ(answer->data.size(), r.served);
    EXPECT_TRUE(std::equal(answer->data.begin(), answer->data.end(), peer.begin() + r.from));
    pair_.server.host.outbox.clear();
  }
  EXPECT_TRUE(std::ranges::equal(pair_.server.tables.CompareJobs.At(0)->data, peer));
}

TEST_F(TwoPeers, OversizedAnswerStoresOnlyWhatFits) {
  Files files{RandomBytes(1000, 21), RandomBytes(1000, 22)};
  CompareJob& job = Start(pair_.client, files);
  ASSERT_TRUE(pair_.RunUntilQuiet());
  pair_.inFlight = [](Envelope& envelope) {
    if (MessageCommand(envelope.payload) == CmdCompare_BlockAnswer &&
        MessageSubCode(envelope.payload) == SubGet) {
      envelope.payload.resize(kMaxPayload, 0xCC);
    }
    return true;
  };
  EXPECT_EQ(Synchronise(pair_.client, job), files.peer);
}

class ImpossibleAnswer : public TwoPeers, public ::testing::WithParamInterface<int32_t> {};

// The first check answer is replaced by an offset at which the range cannot
// lie in the peer's file; the comparison goes on and the file is still
// rebuilt correctly.
TEST_P(ImpossibleAnswer, IsNeverCopiedFrom) {
  Bytes peer = RandomBytes(100000, 23);
  CompareJob& job = Start(pair_.server, Files{peer, peer});
  bool tampered = false;
  pair_.inFlight = [&tampered](Envelope& envelope) {
    if (!tampered && MessageCommand(envelope.payload) == CmdCompare_BlockAnswer &&
        MessageSubCode(envelope.payload) == SubCheck) {
      WriteI32(envelope.payload, 6, GetParam());
      tampered = true;
    }
    return true;
  };
  ASSERT_TRUE(pair_.RunUntilQuiet());
  EXPECT_TRUE(tampered);
  EXPECT_EQ(Synchronise(pair_.server, job), peer);
  EXPECT_EQ(pair_.server.host.getsSent, 0);  // the halves were found in place
}

INSTANTIATE_TEST_SUITE_P(Offsets, ImpossibleAnswer, ::testing::Values(99990, INT32_MAX, -2));

TEST_F(TwoPeers, AnswerWithoutDataStopsInsteadOfAskingForever) {
  Files files{RandomBytes(1000, 24), RandomBytes(3000, 25)};
  CompareJob& job = Start(pair_.server, files);
  ASSERT_TRUE(pair_.RunUntilQuiet());
  pair_.inFlight = [](Envelope& envelope) {
    if (MessageCommand(envelope.payload) == CmdCompare_BlockAnswer &&
        MessageSubCode(envelope.payload) == SubGet) {
      envelope.payload.resize(kAnswerGetFixed);
    }
    return true;
  };
  pair_.server.host.savePath = (dir_.path() / "never.bin").string();
  StartSynchronisation(job);
  ASSERT_TRUE(pair_.RunUntilQuiet(1000));
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(pair_.server.host.getsSent, 1);
  EXPECT_EQ(pair_.server.host.Count("Syncronison stopped: the peer sent no data!"), 1);
  EXPECT_FALSE(std::filesystem::exists(pair_.server.host.savePath));
}

TEST_F(TwoPeers, ClearingTheRemoteFileListLeavesTheJobWhole) {
  Files files{RandomBytes(30000, 26), RandomBytes(30000, 27)};
  CompareJob& job = Start(pair_.client, files);
  pair_.client.tables.RemoteFiles.Clear();  // a refresh while the job runs
  ASSERT_TRUE(pair_.RunUntilQuiet());
  EXPECT_EQ(Synchronise(pair_.client, job), files.peer);
}

}  // namespace
}  // namespace kelpie
