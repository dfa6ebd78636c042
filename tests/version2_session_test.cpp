// Two real programs over loopback with the second protocol version, and each
// side against a peer held to the first: every kind of pair is rebuilt byte
// for byte, and a first-version peer sees only first-version messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "compare/content_chunks.h"
#include "compare/version2_strategy.h"
#include "protocol/messages.h"
#include "protocol/messages_v2.h"
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
using Bytes = std::vector<uint8_t>;

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// The pattern again and again, whole, until there are at least `size` bytes.
Bytes Repeated(const Bytes& pattern, size_t size) {
  Bytes bytes;
  while (bytes.size() < size)
    bytes.insert(bytes.end(), pattern.begin(), pattern.end());
  return bytes;
}

// Zeros with random islands; `changed` islands differ between seeds.
Bytes Sparse(size_t size, uint32_t seed, int changed) {
  Bytes bytes(size, 0);
  for (int i = 0; i < 12; ++i) {
    Bytes island = RandomBytes(3000 + 500 * i, i < changed ? seed + i : 500 + i);
    std::copy(island.begin(), island.end(), bytes.begin() + (size / 12) * i);
  }
  return bytes;
}

struct Pair {
  const char* name;
  std::function<Bytes()> local;
  std::function<Bytes(const Bytes&)> peer;
};

const Bytes& Base() {
  static const Bytes base = RandomBytes(600000, 5);
  return base;
}

const std::vector<Pair>& Pairs() {
  static const std::vector<Pair> pairs = {
      {"Identical", Base, [](const Bytes& l) { return l; }},
      {"Edit", Base,
       [](const Bytes& l) {
         Bytes p = l;
         p[300001] ^= 1;
         return p;
       }},
      {"Insert", Base,
       [](const Bytes& l) {
         return Cat(Cat(Slice(l, 0, 300000), RandomBytes(1000, 9)), Slice(l, 300000, l.size()));
       }},
      {"Delete", Base,
       [](const Bytes& l) { return Cat(Slice(l, 0, 300000), Slice(l, 301000, l.size())); }},
      {"Append", Base, [](const Bytes& l) { return Cat(l, RandomBytes(40000, 10)); }},
      {"Disjoint", Base, [](const Bytes&) { return RandomBytes(500000, 11); }},
      {"SwappedHalves", Base,
       [](const Bytes& l) { return Cat(Slice(l, 300000, l.size()), Slice(l, 0, 300000)); }},
      {"SparseIslandsChanged", [] { return Sparse(900000, 1, 0); },
       [](const Bytes&) { return Sparse(900000, 40, 3); }},
      {"EmptyLocal", [] { return Bytes(); }, [](const Bytes&) { return RandomBytes(5000, 12); }},
      {"EmptyPeer", Base, [](const Bytes&) { return Bytes(); }},
  };
  return pairs;
}

// Two connected programs with the versions they speak, one offering the
// peer's file and the other its local one.
struct Session {
  Session(int serverVersion, int clientVersion, bool clientStarts) : clientStarts(clientStarts) {
    server.program.state.NetVersion = serverVersion;
    client.program.state.NetVersion = clientVersion;
    port = server.Listen();
    connected = client.ConnectTo(port);
  }

  TestPeer& initiator() { return clientStarts ? client : server; }
  TestPeer& responder() { return clientStarts ? server : client; }

  // Offers the files and runs a whole comparison and synchronisation.
  ::testing::AssertionResult Rebuild(const Bytes& local, const Bytes& peer) {
    std::string localPath = dir.Write("local.bin", local);
    std::string peerPath = dir.Write("peer.bin", peer);
    responder().Offer(peerPath);
    initiator().Offer(localPath);
    if (!RunUntil(all, [&] {
          return client.window.RowCount(kServerFiles) == 1 &&
                 server.window.RowCount(kClientFiles) == 1;
        })) {
      return ::testing::AssertionFailure() << "file lists";
    }
    if (!initiator().CompareRows(0, 0)) return ::testing::AssertionFailure() << "compare";
    if (!RunUntil(all, [&] { return initiator().Logged("Comparison finished!"); })) {
      return ::testing::AssertionFailure() << "comparison did not finish";
    }
    return Synchronise(peer);
  }

  ::testing::AssertionResult Synchronise(const Bytes& peer) {
    initiator().window.SelectRow(kJobList, 0);
    RunPasses({&initiator()}, 1);
    initiator().AnswerSaveWith(saved());
    if (!initiator().Use(kSyncButton)) return ::testing::AssertionFailure() << "sync button";
    if (!RunUntil(all, [&] {
          return initiator().Logged("Syncronison complete!") || initiator().Job(0)->state == kIdle;
        })) {
      return ::testing::AssertionFailure() << "synchronisation did not end";
    }
    if (ReadFileBytes(saved()) != peer)
      return ::testing::AssertionFailure() << "saved file differs";
    return ::testing::AssertionSuccess();
  }

  std::string saved() { return (dir.path() / "saved.bin").string(); }

  bool Speaks2(const TestPeer& peer) const {
    return !peer.program.state.version2Connections.empty();
  }

  TempDir dir;
  TestPeer server, client;
  std::vector<TestPeer*> all{&server, &client};
  bool clientStarts;
  int port = 0;
  bool connected = false;
};

bool AnyLineHas(const TestPeer& peer, const std::string& part) {
  return std::any_of(peer.log.begin(), peer.log.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

class Version2Pairs : public ::testing::TestWithParam<std::tuple<Pair, bool>> {};

TEST_P(Version2Pairs, RebuildsThePeersFile) {
  const auto& [pair, clientStarts] = GetParam();
  Session s(2, 2, clientStarts);
  ASSERT_TRUE(s.connected);
  const Bytes local = pair.local();
  const Bytes peer = pair.peer(local);
  EXPECT_TRUE(s.Rebuild(local, peer));
  EXPECT_TRUE(s.Speaks2(s.server) && s.Speaks2(s.client));
  EXPECT_TRUE(AnyLineHas(s.responder(), "'Compare_Start' (NetVersion 2)"));
  EXPECT_FALSE(AnyLineHas(s.responder(), "(Check)"));
}

// On a link slow enough for parts to be asked ahead, the same pairs come out
// the same.
TEST_P(Version2Pairs, RebuildsThePeersFileAskingPartsAhead) {
  const auto& [pair, clientStarts] = GetParam();
  Session s(2, 2, clientStarts);
  ASSERT_TRUE(s.connected);
  const Bytes local = pair.local();
  const double before = Version2Strategy::lookAheadRoundTripMs;
  Version2Strategy::lookAheadRoundTripMs = 0;
  EXPECT_TRUE(s.Rebuild(local, pair.peer(local)));
  Version2Strategy::lookAheadRoundTripMs = before;
}

INSTANTIATE_TEST_SUITE_P(All, Version2Pairs,
                         ::testing::Combine(::testing::ValuesIn(Pairs()), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_ClientStarts" : "_ServerStarts");
                         });

struct Mixed {
  const char* name;
  int serverVersion;
  int clientVersion;
  bool clientStarts;
};

class MixedVersions : public ::testing::TestWithParam<Mixed> {};

// A program held to the first version, on either side, gets exactly the
// first version's messages, whichever side starts.
TEST_P(MixedVersions, FallBackToTheFirstVersion) {
  const Mixed& m = GetParam();
  Session s(m.serverVersion, m.clientVersion, m.clientStarts);
  ASSERT_TRUE(s.connected);
  const Bytes peer = Pairs()[2].peer(Base());
  EXPECT_TRUE(s.Rebuild(Base(), peer));
  EXPECT_FALSE(s.Speaks2(s.server) || s.Speaks2(s.client));
  EXPECT_TRUE(AnyLineHas(s.responder(), "'Compare_Block' (Check)"));
  EXPECT_TRUE(AnyLineHas(s.responder(), "'Compare_Block' (Get)"));
  EXPECT_FALSE(AnyLineHas(s.responder(), "NetVersion 2)"));
  EXPECT_FALSE(AnyLineHas(s.initiator(), "'Compare_Data'"));
  const std::string hello = m.clientVersion == 2 ? "'Hello' NetVersion: $2 - Hello! :)"
                                                 : "'Hello' NetVersion: $1 - Hello! :)";
  EXPECT_TRUE(AnyLineHas(s.server, hello));
}

INSTANTIATE_TEST_SUITE_P(Pairs, MixedVersions,
                         ::testing::Values(Mixed{"Server1Client2_ClientStarts", 1, 2, true},
                                           Mixed{"Server1Client2_ServerStarts", 1, 2, false},
                                           Mixed{"Server2Client1_ClientStarts", 2, 1, true},
                                           Mixed{"Server2Client1_ServerStarts", 2, 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file truncated by another program under a job, on either side and in
// either version: the job ends with a log line and nothing is saved.
class ShrunkFile : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(ShrunkFile, EndsTheJobAndSavesNothing) {
  const auto [version, responderSide] = GetParam();
  Session s(version, version, true);
  ASSERT_TRUE(s.connected);
  const Bytes peer = Pairs()[2].peer(Base());
  const std::string localPath = s.dir.Write("local.bin", Base());
  const std::string peerPath = s.dir.Write("peer.bin", peer);
  s.server.Offer(peerPath);
  s.client.Offer(localPath);
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.window.RowCount(kServerFiles) == 1; }));
  ASSERT_TRUE(s.client.CompareRows(0, 0));
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.Logged("Comparison finished!"); }));
  const std::string& shrunk = responderSide ? peerPath : localPath;
  std::filesystem::resize_file(shrunk, 1000);
  EXPECT_FALSE(s.Synchronise(peer));
  TestPeer& noticing = responderSide ? s.server : s.client;
  EXPECT_TRUE(noticing.Logged("File changed while in use, job ended: " + shrunk));
  if (responderSide) {
    EXPECT_TRUE(s.client.Logged("Syncronison stopped: the peer sent no data!"));
  }
  EXPECT_FALSE(s.client.Logged("Syncronison complete!"));
  EXPECT_FALSE(std::filesystem::exists(s.saved()));
}

INSTANTIATE_TEST_SUITE_P(Sides, ShrunkFile,
                         ::testing::Combine(::testing::Values(1, 2), ::testing::Bool()));

// The peer's data changes under the job after it was fingerprinted: the
// rebuilt file does not match its SHA-256 and nothing is written.
TEST(Version2Session, ARebuiltFileThatDiffersFromThePeersIsNotSaved) {
  Session s(2, 2, true);
  ASSERT_TRUE(s.connected);
  const Bytes local = Base();
  Bytes peer = Pairs()[2].peer(local);
  std::string localPath = s.dir.Write("local.bin", local);
  std::string peerPath = s.dir.Write("peer.bin", peer);
  s.server.Offer(peerPath);
  s.client.Offer(localPath);
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.window.RowCount(kServerFiles) == 1; }));
  ASSERT_TRUE(s.client.CompareRows(0, 0));
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.Logged("Comparison finished!"); }));
  // The inserted bytes are fetched, and the peer's file changes in place
  // before they are: they are no longer what was hashed.
  {
    std::fstream file(peerPath, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(300010);
    file.put(static_cast<char>(peer[300010] ^ 0xFF));
  }
  s.client.window.SelectRow(kJobList, 0);
  RunPasses({&s.client}, 1);
  s.client.AnswerSaveWith(s.saved());
  ASSERT_TRUE(s.client.Use(kSyncButton));
  ASSERT_TRUE(RunUntil(s.all, [&] {
    return s.client.Logged("Syncronison stopped: the rebuilt file differs from the peer's!");
  }));
  EXPECT_EQ(s.client.Job(0)->state, kIdle);
  EXPECT_FALSE(std::filesystem::exists(s.saved()));
  EXPECT_TRUE(s.client.window.dialogs().empty() ||
              s.client.window.dialogs().back().title != "Save file");
}

// A synchronisation aborted halfway keeps what it fetched beside the local
// file; the next one of the same pair fetches only the rest.
TEST(Version2Session, ASynchronisationCutOffHalfwayResumes) {
  Session s(2, 2, true);
  ASSERT_TRUE(s.connected);
  const Bytes local = Base();
  const Bytes peer = RandomBytes(8 << 20, 31);
  const std::string localPath = s.dir.Write("local.bin", local);
  const std::string peerPath = s.dir.Write("peer.bin", peer);
  s.server.Offer(peerPath);
  s.client.Offer(localPath);
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.window.RowCount(kServerFiles) == 1; }));
  ASSERT_TRUE(s.client.CompareRows(0, 0));
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.Logged("Comparison finished!"); }));
  s.client.window.SelectRow(kJobList, 0);
  RunPasses({&s.client}, 1);
  ASSERT_TRUE(s.client.Use(kSyncButton));
  ASSERT_TRUE(RunUntil(s.all, [&] { return 2 * s.client.Job(0)->position >= std::ssize(peer); }));
  ASSERT_LT(s.client.Job(0)->position, std::ssize(peer));
  ASSERT_TRUE(s.client.Use(kSyncButton));  // Abort
  const std::string partial = (s.dir.path() / ".local.bin.kelpie-partial").string();
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.Job(0)->state == kIdle; }));
  // What was on its way when the job stopped arrives, and is not counted.
  const auto received = [&] { return s.client.program.state.network.BytesReceived(); };
  for (int64_t last = -1; last != received();) {
    last = received();
    RunPasses(s.all, 20);
  }
  const int64_t before = received();
  EXPECT_TRUE(s.Synchronise(peer));
  const int64_t fetched = received() - before;
  EXPECT_TRUE(AnyLineHas(s.client, "Resuming from partial file " + partial));
  EXPECT_LT(fetched, std::ssize(peer) * 6 / 10);
  EXPECT_FALSE(std::filesystem::exists(partial));
}

// A file that repeats itself (records, a fill pattern) is rebuilt from its
// own layout: ranges found over a part of the peer's file that others
// supply already are looked at more closely, so a shift and a few edits cost
// little more than their own bytes. A pattern longer than a small chunk
// gives ranges of many parts, which are checked in runs first, and asked
// ahead on a slow link only while that pays. Parameters: the pattern's
// length, and the file's size over the most bytes the initiator may send.
class Version2Repeating : public ::testing::TestWithParam<std::pair<size_t, int>> {};

TEST_P(Version2Repeating, FileIsRebuiltFromItsOwnLayout) {
  const auto [period, sentShare] = GetParam();
  const Bytes local = Repeated(RandomBytes(period, 41), 4u << 20);
  Bytes peer = Cat(Cat(Slice(local, 0, 1'000'000), RandomBytes(100, 42)),
                   Slice(local, 1'000'000, local.size()));
  for (size_t at = 150'000; at < peer.size(); at += 800'000)
    peer[at] ^= 0x55;
  // Also when parts are asked ahead, as on a slow link: the ranges of such a
  // file have many parts, which are then not. The fast link is taken as one
  // whatever the build's speed (sanitizers).
  const double before = Version2Strategy::lookAheadRoundTripMs;
  for (const double lookAhead : {1e9, 0.0}) {
    Version2Strategy::lookAheadRoundTripMs = lookAhead;
    Session s(2, 2, true);
    ASSERT_TRUE(s.connected);
    const Network& network = s.client.program.state.network;
    EXPECT_TRUE(s.Rebuild(local, peer));
    // On a slow link only ranges of very many parts are checked in runs,
    // and no small chunk in pieces: each costs a round trip more.
    const bool slow = lookAhead == 0.0;
    EXPECT_LT(network.BytesReceived(), std::ssize(peer) / (slow ? 50 : 100)) << lookAhead;
    EXPECT_LT(network.BytesSent(), std::ssize(peer) / (slow ? 100 : sentShare)) << lookAhead;
  }
  Version2Strategy::lookAheadRoundTripMs = before;
}

INSTANTIATE_TEST_SUITE_P(Periods, Version2Repeating,
                         ::testing::Values(std::pair{4, 250}, std::pair{1000, 250},
                                           std::pair{4096, 250}));

// The bytes a rebuild sent and received.
struct WireBytes {
  int64_t sent = 0;
  int64_t received = 0;
  int64_t Both() const { return sent + received; }
};

// Rebuilds peer from local over a link taken as fast whatever the build's
// speed: pieces and finer checks cost a round trip more, so they are left
// out on a slow link, and a slow build (sanitizers) must not look like one.
// When offered is not kLater, both files are read beside the loop when
// offered, as large files are, and cut then, and indexed too with kIndexed.
enum class Offered { kLater, kCut, kIndexed };
WireBytes FastLinkRebuild(const Bytes& local, const Bytes& peer,
                          Offered offered = Offered::kLater) {
  const double before = Version2Strategy::lookAheadRoundTripMs;
  Version2Strategy::lookAheadRoundTripMs = 1e9;
  Session s(2, 2, true);
  EXPECT_TRUE(s.connected);
  for (TestPeer* side : {&s.client, &s.server}) {
    if (offered != Offered::kLater) side->program.fingerprintAtOnce = 0;
    const int64_t indexMemory = offered == Offered::kIndexed ? int64_t{1} << 30 : 0;
    side->program.pendingOffers = PendingOffers(std::make_shared<IndexMemory>(indexMemory));
  }
  EXPECT_TRUE(s.connected && s.Rebuild(local, peer));
  Version2Strategy::lookAheadRoundTripMs = before;
  for (TestPeer* side : {&s.client, &s.server}) {
    const FileEntry* file = side->program.state.tables.LocalFiles.At(0);
    EXPECT_EQ(file != nullptr && file->cuts != nullptr, offered != Offered::kLater);
    EXPECT_EQ(file != nullptr && file->cuts != nullptr && file->cuts->index != nullptr,
              offered == Offered::kIndexed);
  }
  const Network& network = s.client.program.state.network;
  return {network.BytesSent(), network.BytesReceived()};
}

// Lines inserted and deleted in text: a small chunk holding an edit is
// checked in pieces beside its neighbours, found at their shifts on either
// side of the edit, so each edit costs a piece or two, not its chunk.
TEST(Version2Session, ShortEditsCostPiecesNotChunks) {
  Bytes local;
  std::mt19937 engine(7);
  while (local.size() < 2'000'000) {
    const std::string line = "2026-12-09 " + std::to_string(engine()) + " worker-" +
                             std::to_string(engine() % 16) + " took " +
                             std::to_string(engine() % 1000) + " ms\n";
    local.insert(local.end(), line.begin(), line.end());
  }
  local.resize(2'000'000);
  Bytes peer;
  const std::string added = "2026-12-09 inserted line of about forty bytes\n";
  for (size_t at = 0, edit = 0; at < local.size(); at += 100'000, ++edit) {
    const size_t end = at + 100'000;
    if (edit % 2 == 0) {
      peer = Cat(Cat(peer, Slice(local, at, end - 50'000)), Bytes(added.begin(), added.end()));
      peer = Cat(peer, Slice(local, end - 50'000, end));
    } else {
      peer = Cat(Cat(peer, Slice(local, at, end - 50'000)), Slice(local, end - 49'960, end));
    }
  }
  // Twenty edits: fetching their small chunks whole costs over twice this.
  EXPECT_LT(FastLinkRebuild(local, peer).received, 7000);
}

// A pattern repeated has few cuts of its own, so its longer ranges are cut
// at their longest: a 2 MB file is one range of four parts, each holding
// some of twenty edits. All four missing is no sign of a file sharing nothing,
// and a range found a few periods from its place while the ranges beside it
// are found in place names a copy, not a shift: both are checked finer, so
// the edits cost pieces, not the file.
TEST(Version2Session, EditsInARepeatedPatternCostPiecesNotTheFile) {
  const Bytes local = Repeated(RandomBytes(1000, 31), size_t{2} << 20);
  Bytes peer = local;
  std::mt19937 engine(8);
  for (int edit = 0; edit < 20; ++edit)
    peer[engine() % peer.size()] ^= 0x5a;
  peer = Cat(Cat(Slice(peer, 0, size_t{1} << 20), RandomBytes(100, 32)),
             Slice(peer, size_t{1} << 20, peer.size()));
  // 53,151 bytes when copies a few periods away are taken, 2 MB when the
  // four parts missing end the comparison.
  EXPECT_LT(FastLinkRebuild(local, peer).Both(), 51'500);
}

// The same in a file small enough to be one range: its last part, shorter
// than the parts before it cut at their longest, is as patterned as they
// are and holds some of the edits as well.
TEST(Version2Session, EditsInTheLastPartOfAPatternCostPieces) {
  Bytes local = Repeated(RandomBytes(1000, 1), 262'144);
  local.resize(262'144);
  // A pattern without a cut of level 1: four parts at their longest and one
  // shorter.
  ASSERT_EQ(RangesOfLevel(CutChunks(local), 1, 0, std::ssize(local)).size(), 5u);
  Bytes peer = local;
  for (size_t at = 9'000; at < peer.size(); at += 25'000)
    peer[at] ^= 0x5a;
  peer = Cat(Cat(Slice(peer, 0, 100'000), RandomBytes(100, 32)), Slice(peer, 100'000, peer.size()));
  // 37 KB when the last part, missing beside its missing siblings, is
  // fetched whole.
  EXPECT_LT(FastLinkRebuild(local, peer).Both(), 8'000);
}

// Short runs of zeros between new data cost no bytes: a sparse image's
// rewritten blocks come with the zeros around and between them.
TEST(Version2Session, ZerosBetweenNewDataComeAsZeroPieces) {
  const Bytes local(size_t{1} << 20, 0);
  Bytes peer = local;
  for (size_t at = 10'000; at + 3'000 < peer.size(); at += 65'536) {
    const Bytes first = RandomBytes(1000, static_cast<uint32_t>(at));
    const Bytes second = RandomBytes(1000, static_cast<uint32_t>(at + 1));
    std::copy(first.begin(), first.end(), peer.begin() + static_cast<long>(at));
    std::copy(second.begin(), second.end(), peer.begin() + static_cast<long>(at + 2000));
  }
  // Sixteen places of 2,000 new bytes; the zeros between them and around
  // them in the ranges fetched came as bytes when only long runs were sent
  // as zero pieces: 125 KB.
  EXPECT_LT(FastLinkRebuild(local, peer).received, 40'000);
}

// Blocks of a file moved about: a long range whose first part holds the
// start of a moved block is found neither whole nor as its first part and
// runs, yet the peer holds the parts; in a file that shares much they are
// checked, so only the bytes around the blocks' ends are fetched.
TEST(Version2Session, MovedBlocksAreFoundThroughTheirParts) {
  const Bytes local = RandomBytes(size_t{2} << 20, 33);
  // Six blocks, cut at random places and put in a random order.
  std::mt19937 engine(10);
  std::vector<size_t> cuts = {0, local.size()};
  for (int i = 0; i < 5; ++i)
    cuts.push_back(engine() % local.size());
  std::sort(cuts.begin(), cuts.end());
  std::vector<int> order = {0, 1, 2, 3, 4, 5};
  std::shuffle(order.begin(), order.end(), engine);
  Bytes peer;
  for (const int block : order)
    peer = Cat(peer, Slice(local, cuts[block], cuts[block + 1]));
  // 436 KB when a missing first part and the runs behind it end the search.
  EXPECT_LT(FastLinkRebuild(local, peer).Both(), 10'000);
}

// Edits of 4 KiB a few kilobytes apart spoil every long range, yet the
// ranges between them are the peer's: one of the long ranges all missing
// is checked through its parts, and once it shows them found so are the
// others, rather than fetching the region whole.
TEST(Version2Session, DenseEditsAreCheckedBetweenTheEdits) {
  const Bytes local = RandomBytes(size_t{2} << 20, 34);
  Bytes peer = local;
  std::mt19937 engine(11);
  for (int edit = 0; edit < 200; ++edit) {
    const Bytes bytes = RandomBytes(4096, 100 + edit);
    std::copy(bytes.begin(), bytes.end(), peer.begin() + engine() % (peer.size() - 4096));
  }
  // About 700 KB of the peer's file are new; 950 KB go when the long ranges
  // all missing end the search.
  EXPECT_LT(FastLinkRebuild(local, peer).Both(), 850'000);
}

// A file cut when it was offered is compared from those cuts, the peer's
// index built from them without cutting again, or taken as made then: the
// same checks and answers as cutting at the comparison, runs of zeros
// included.
TEST(Version2Session, FilesCutWhenOfferedAreComparedAsIfCutThen) {
  for (const char* name : {"SparseIslandsChanged", "Insert"}) {
    const Pair& pair = *std::find_if(Pairs().begin(), Pairs().end(),
                                     [&](const Pair& p) { return std::string(p.name) == name; });
    const Bytes local = pair.local();
    const Bytes peer = pair.peer(local);
    const WireBytes later = FastLinkRebuild(local, peer);
    for (const Offered offered : {Offered::kCut, Offered::kIndexed}) {
      const WireBytes early = FastLinkRebuild(local, peer, offered);
      EXPECT_EQ(early.sent, later.sent) << name;
      EXPECT_EQ(early.received, later.received) << name;
    }
  }
}

// A program that speaks only version 1 neither cuts nor indexes the files
// it offers: no comparison would use them. One that speaks 2 does, whatever
// its present peer speaks.
TEST(Version2Session, FilesOfferedByAVersion1ProgramAreNotCut) {
  Session s(1, 2, true);
  ASSERT_TRUE(s.connected);
  s.server.program.fingerprintAtOnce = s.client.program.fingerprintAtOnce = 0;
  const Bytes local = RandomBytes(200000, 31);
  ASSERT_TRUE(s.Rebuild(local, Cat(local, RandomBytes(1000, 32))));
  const FileEntry* served = s.server.program.state.tables.LocalFiles.At(0);
  const FileEntry* own = s.client.program.state.tables.LocalFiles.At(0);
  ASSERT_TRUE(served != nullptr && own != nullptr);
  EXPECT_EQ(served->cuts, nullptr);
  EXPECT_NE(own->cuts, nullptr);
}

// Two comparisons on one connection at once: their batches and pieces
// interleave, and each job takes only its own.
TEST(Version2Session, SeveralJobsOnOneConnectionKeepTheirAnswersApart) {
  Session s(2, 2, true);
  ASSERT_TRUE(s.connected);
  const Bytes localA = RandomBytes(300000, 21), localB = RandomBytes(400000, 22);
  const Bytes peerA = Cat(RandomBytes(5000, 23), localA);
  const Bytes peerB = Cat(Slice(localB, 200000, 400000), Slice(localB, 0, 200000));
  s.server.Offer(s.dir.Write("a-peer.bin", peerA));
  s.server.Offer(s.dir.Write("b-peer.bin", peerB));
  s.client.Offer(s.dir.Write("a-local.bin", localA));
  s.client.Offer(s.dir.Write("b-local.bin", localB));
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.window.RowCount(kServerFiles) == 2; }));
  ASSERT_TRUE(s.client.CompareRows(0, 0));
  ASSERT_TRUE(s.client.CompareRows(1, 1));
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.CountLogged("Comparison finished!") == 2; }));
  const std::string savedA = (s.dir.path() / "a.bin").string();
  const std::string savedB = (s.dir.path() / "b.bin").string();
  s.client.AnswerSaveWith(savedA);
  s.client.AnswerSaveWith(savedB);
  ASSERT_TRUE(s.client.PressJobButton(0));
  ASSERT_TRUE(s.client.PressJobButton(1));
  ASSERT_TRUE(RunUntil(s.all, [&] { return s.client.CountLogged("Syncronison complete!") == 2; }));
  // The save dialogs are answered in the order the jobs finish.
  const bool inOrder = ReadFileBytes(savedA) == peerA && ReadFileBytes(savedB) == peerB;
  const bool swapped = ReadFileBytes(savedA) == peerB && ReadFileBytes(savedB) == peerA;
  EXPECT_TRUE(inOrder || swapped);
}

// The server greets every client as before; only a client that announces the
// second version is answered 2, and only its connection carries the second
// version's commands.
TEST(Version2Session, NegotiationOverRawBytes) {
  TestPeer server;
  server.program.state.NetVersion = 2;
  const int port = server.Listen();
  test::RawClient old(port), modern(port);
  ASSERT_TRUE(old.connected() && modern.connected());
  old.SendFrame(BuildHello(kClientGreeting, 1));
  modern.SendFrame(BuildHello(kClientGreeting, 2));
  old.SendFrame(BuildV2Start(5, "/nothing"));
  modern.SendFrame(BuildV2Start(5, "/nothing"));
  const auto answered = [](test::RawClient& c) { return c.Frames().size() >= 3; };
  ASSERT_TRUE(RunUntil({&server}, [&] { return answered(modern) && old.Frames().size() >= 2; }));
  RunPasses({&server}, 20);
  const Bytes serverHello = BuildHello(kServerGreeting, 1);
  EXPECT_EQ(old.Frames()[0], serverHello);
  EXPECT_EQ(modern.Frames()[0], serverHello);
  EXPECT_EQ(old.Frames()[1], BuildOk(CmdHello, 1));
  EXPECT_EQ(modern.Frames()[1], BuildOk(CmdHello, 2));
  EXPECT_EQ(old.Frames().size(), 2u);
  EXPECT_EQ(server.CountLogged("Client(1): 'Unknown command ($10)'") +
                server.CountLogged("Client(2): 'Unknown command ($10)'"),
            1);
  auto refusal = ReadV2Accept(modern.Frames()[2]);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->result, kAcceptNotListed);
  EXPECT_EQ(refusal->job, 5u);
}

}  // namespace
}  // namespace kelpie
