#include "compare/sync.h"
#include "compare/sync_index.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "compare/engine.h"
#include "compare/fingerprint.h"
#include "compare/range_search.h"
#include "protocol/messages.h"
#include "support/engine_pair.h"
#include "support/job_bytes.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using test::QueueingHost;
using test::RandomBytes;
using test::ReadFileBytes;
using test::TempDir;

constexpr ConnectionId kServerConnection = 3;
constexpr int32_t kFileId = 42;
using Range = std::pair<int32_t, int32_t>;

// A finished comparison on the initiator's side; the tests answer its checks
// and gets by hand.
class Sync : public ::testing::Test {
 protected:
  // Compares local bytes with a peer file of peerSize bytes, answering each
  // check with answer(start, len).
  CompareJob& Compared(const std::vector<uint8_t>& local, int32_t peerSize,
                       const std::function<int32_t(int32_t, int32_t)>& answer) {
    FileEntry entry{dir_.Write("local.bin", local), static_cast<int32_t>(local.size()), "", 0, 0};
    CompareJob& job =
        *StartComparison(tables_, host_, entry, FileEntry{"/peer/file.bin", peerSize, "", 0, 0});
    job.state = kComparing;
    job.fileId = kFileId;
    for (int pass = 0; pass < 100000 && job.state == kComparing; ++pass) {
      RunComparisons(tables_, host_);
      for (const test::Envelope& sent : host_.outbox) {
        if (std::optional<BlockCheckMessage> check = ReadBlockCheck(sent.payload);
            check && MessageCommand(sent.payload) == CmdCompare_Block) {
          ApplyCheckAnswer(tables_, 0, kFileId, answer(check->start, check->len));
        }
      }
      host_.outbox.clear();
    }
    EXPECT_EQ(job.state, kIdle);
    return job;
  }

  // Compares with the peer's bytes as a real responder would answer.
  CompareJob& ComparedWith(const std::vector<uint8_t>& local, const std::vector<uint8_t>& peer) {
    return Compared(local, static_cast<int32_t>(peer.size()), [&](int32_t start, int32_t len) {
      std::span<const uint8_t> range = std::span(local).subspan(start, len);
      return NaiveFindRange(peer, start, len, StartLong(range, 0), RangeFingerprint(range));
    });
  }

  // The Get sent by the last step, if any.
  std::optional<Range> TakeGet() {
    std::optional<Range> get;
    for (const test::Envelope& sent : host_.outbox) {
      if (std::optional<BlockGetMessage> message = ReadBlockGet(sent.payload);
          message && MessageSubCode(sent.payload) == SubGet) {
        EXPECT_EQ(sent.to, kServerConnection);
        EXPECT_EQ(message->fileId, kFileId);
        get = Range{message->start, message->len};
      }
    }
    host_.outbox.clear();
    return get;
  }

  // Steps until the job is Idle, answering every Get from the peer's bytes;
  // returns the Gets in order.
  std::vector<Range> Synchronise(CompareJob& job, const std::vector<uint8_t>& peer) {
    CompareJob responder;
    SetJobData(responder, peer);
    std::vector<Range> gets;
    for (int step = 0; step < 100000 && job.state != kIdle; ++step) {
      SyncStep(job, host_);
      if (std::optional<Range> get = TakeGet()) {
        gets.push_back(*get);
        StoreRangeAnswer(job, host_, ServeRange(responder, get->first, get->second));
      }
    }
    return gets;
  }

  std::string SavePath(const std::string& name) { return (dir_.path() / name).string(); }

  // Files being assembled beside the local one.
  int TemporaryFiles() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
      count += entry.path().filename().string().starts_with(".") ? 1 : 0;
    return count;
  }

  TempDir dir_;
  Tables tables_;
  QueueingHost host_{tables_, kServerConnection};
};

TEST_F(Sync, StartNeedsAnIdleJobWithARemoteFile) {
  CompareJob responder;
  responder.state = kIdle;
  StartSynchronisation(responder);
  EXPECT_EQ(responder.state, kIdle);
  EXPECT_EQ(responder.rebuilt, nullptr);

  CompareJob& job = Compared(RandomBytes(100, 1), 300, [](int32_t, int32_t) { return -1; });
  job.state = kComparing;
  StartSynchronisation(job);
  EXPECT_EQ(job.state, kComparing);
  job.state = kIdle;
  StartSynchronisation(job);
  job.rebuilt->Write(0, std::vector<uint8_t>(50, 0xAB));
  job.state = kIdle;
  job.position = 50;
  StartSynchronisation(job);
  EXPECT_EQ(job.state, kSynchronising);
  EXPECT_EQ(job.position, 0);
  EXPECT_EQ(NewBytes(job), std::vector<uint8_t>(300, 0));
}

TEST_F(Sync, CopiesFoundRangesAndFetchesTheGapsBetweenThem) {
  std::vector<uint8_t> local = RandomBytes(2048, 1);
  std::vector<uint8_t> peer = local;
  for (int i = 1024; i < 1536; ++i)
    peer[i] ^= 0x5A;
  CompareJob& job = ComparedWith(local, peer);
  StartSynchronisation(job);
  SyncStep(job, host_);  // 0..1023 found in place
  EXPECT_EQ(job.position, 1024);
  EXPECT_FALSE(TakeGet());
  SyncStep(job, host_);  // 1024..1535 missing: fetched up to the next found range
  EXPECT_EQ(TakeGet(), (Range{1024, 512}));
  EXPECT_EQ(job.state, kAwaitingData);
  SyncStep(job, host_);  // RunComparisons would not call it; nothing changes meanwhile
  CompareJob responder;
  SetJobData(responder, peer);
  StoreRangeAnswer(job, host_, ServeRange(responder, 1024, 512));
  EXPECT_EQ(job.state, kSynchronising);
  EXPECT_EQ(job.position, 1536);
  SyncStep(job, host_);
  EXPECT_EQ(job.position, 2048);
  EXPECT_EQ(NewBytes(job), peer);
}

TEST_F(Sync, AsksForAtMost32753BytesAtATime) {
  std::vector<uint8_t> peer = RandomBytes(100000, 2);
  CompareJob& job = ComparedWith(RandomBytes(600, 3), peer);
  host_.savePath = SavePath("out.bin");
  StartSynchronisation(job);
  std::vector<Range> gets = Synchronise(job, peer);
  EXPECT_EQ(gets, (std::vector<Range>{{0, 32753}, {32753, 32753}, {65506, 32753}, {98259, 1741}}));
  EXPECT_EQ(ReadFileBytes(host_.savePath), peer);
}

TEST_F(Sync, SplitRangeFoundWholeIsCopiedWhole) {
  std::vector<uint8_t> local = RandomBytes(2048, 4);
  std::vector<uint8_t> peer = RandomBytes(100, 5);
  peer.insert(peer.end(), local.begin(), local.end());
  CompareJob& job = ComparedWith(local, peer);
  StartSynchronisation(job);
  SyncStep(job, host_);
  EXPECT_EQ(TakeGet(), (Range{0, 100}));
  StoreRangeAnswer(job, host_, std::span(peer).first(100));
  SyncStep(job, host_);
  EXPECT_EQ(job.position, 2148);
  EXPECT_EQ(NewBytes(job), peer);
}

TEST_F(Sync, EmptyRangeNeverMatches) {
  CompareJob& job = Compared({}, 100, [](int32_t, int32_t) { return 0; });
  StartSynchronisation(job);
  SyncStep(job, host_);
  EXPECT_EQ(TakeGet(), (Range{0, 100}));
}

class ImpossibleFound : public Sync, public ::testing::WithParamInterface<int32_t> {};

// A 1000-byte range answered with an offset it cannot start at in a
// 2000-byte peer file is never copied.
TEST_P(ImpossibleFound, IsNotCopied) {
  CompareJob& job =
      Compared(RandomBytes(1000, 6), 2000, [](int32_t, int32_t) { return GetParam(); });
  StartSynchronisation(job);
  SyncStep(job, host_);
  EXPECT_EQ(TakeGet(), (Range{0, 2000}));
  EXPECT_EQ(NewBytes(job), std::vector<uint8_t>(2000, 0));
}

INSTANTIATE_TEST_SUITE_P(Offsets, ImpossibleFound, ::testing::Values(1001, 1999, INT32_MAX, -7));

TEST_F(Sync, PeerFileOfSizeZeroIsSavedAtOnce) {
  CompareJob& job = Compared(RandomBytes(3000, 1), 0, [](int32_t, int32_t) { return -1; });
  host_.savePath = SavePath("empty.bin");
  StartSynchronisation(job);
  SyncStep(job, host_);
  EXPECT_EQ(job.state, kIdle);
  EXPECT_TRUE(fs::exists(host_.savePath));
  EXPECT_EQ(fs::file_size(host_.savePath), 0u);
  EXPECT_EQ(host_.Count("Syncronison complete!"), 1);
}

struct ServeCase {
  const char* name;
  int32_t dataSize;
  int32_t start;
  int32_t len;
  int32_t servedFrom;
  int32_t servedLen;
};

class Serve : public ::testing::TestWithParam<ServeCase> {};

TEST_P(Serve, GivesOnlyBytesThatExist) {
  const ServeCase& c = GetParam();
  CompareJob job;
  SetJobData(job, RandomBytes(static_cast<size_t>(c.dataSize), 7));
  std::span<const uint8_t> served = ServeRange(job, c.start, c.len);
  ASSERT_EQ(served.size(), static_cast<size_t>(c.servedLen));
  if (c.servedLen > 0) {
    EXPECT_EQ(served.data(), job.data.data() + c.servedFrom);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Serve,
    ::testing::Values(ServeCase{"Inside", 1000, 10, 20, 10, 20},
                      ServeCase{"RunningPastTheEnd", 1000, 990, 100, 990, 10},
                      ServeCase{"NegativeStart", 1000, -5, 10, 0, 0},
                      ServeCase{"StartAtTheEnd", 1000, 1000, 1, 0, 0},
                      ServeCase{"StartFarBeyond", 1000, INT32_MAX, 10, 0, 0},
                      ServeCase{"NegativeLength", 1000, 5, -1, 0, 0},
                      ServeCase{"EndOverflows", 1000, 900, INT32_MAX, 900, 100},
                      ServeCase{"LongerThanOneFrame", 40000, 0, 40000, 0, 32753},
                      ServeCase{"NoData", 0, 0, 10, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Sync, AnswerLongerThanTheRoomStoresOnlyWhatFits) {
  CompareJob& job = Compared(RandomBytes(100, 1), 300, [](int32_t, int32_t) { return -1; });
  StartSynchronisation(job);
  job.position = 250;
  job.state = kAwaitingData;
  std::vector<uint8_t> answer(5000, 0xEE);
  StoreRangeAnswer(job, host_, answer);
  EXPECT_EQ(job.position, 300);
  const std::vector<uint8_t> rebuilt = NewBytes(job);
  EXPECT_EQ(rebuilt.size(), 300u);
  EXPECT_EQ(rebuilt[249], 0);
  EXPECT_EQ(rebuilt[250], 0xEE);
  EXPECT_EQ(rebuilt[299], 0xEE);
  EXPECT_EQ(job.state, kSynchronising);
}

TEST_F(Sync, ShortAnswerIsFollowedByAGetForTheRest) {
  std::vector<uint8_t> peer = RandomBytes(1000, 8);
  CompareJob& job = Compared(RandomBytes(10, 1), 1000, [](int32_t, int32_t) { return -1; });
  StartSynchronisation(job);
  SyncStep(job, host_);
  EXPECT_EQ(TakeGet(), (Range{0, 1000}));
  StoreRangeAnswer(job, host_, std::span(peer).first(400));
  SyncStep(job, host_);
  EXPECT_EQ(TakeGet(), (Range{400, 600}));
}

TEST_F(Sync, AnswerWithoutBytesEndsTheSynchronisation) {
  CompareJob& job = Compared(RandomBytes(10, 1), 1000, [](int32_t, int32_t) { return -1; });
  StartSynchronisation(job);
  SyncStep(job, host_);
  TakeGet();
  StoreRangeAnswer(job, host_, {});
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(host_.Count("Syncronison stopped: the peer sent no data!"), 1);
  RunComparisons(tables_, host_);
  EXPECT_FALSE(TakeGet());
}

TEST_F(Sync, AnswerForAJobNotWaitingIsIgnored) {
  CompareJob& job = Compared(RandomBytes(10, 1), 1000, [](int32_t, int32_t) { return -1; });
  StartSynchronisation(job);
  StoreRangeAnswer(job, host_, std::vector<uint8_t>(10, 1));
  EXPECT_EQ(job.position, 0);
  EXPECT_EQ(job.state, kSynchronising);
}

TEST_F(Sync, AbortSendsStopAndIgnoresTheLateAnswer) {
  CompareJob& job = Compared(RandomBytes(10, 1), 1000, [](int32_t, int32_t) { return -1; });
  StartSynchronisation(job);
  SyncStep(job, host_);
  TakeGet();
  AbortJob(job, host_);
  ASSERT_EQ(host_.outbox.size(), 1u);
  EXPECT_EQ(host_.outbox[0].to, kServerConnection);
  EXPECT_EQ(ReadCompareStop(host_.outbox[0].payload)->fileId, kFileId);
  EXPECT_EQ(job.state, kIdle);
  StoreRangeAnswer(job, host_, std::vector<uint8_t>(10, 1));
  EXPECT_EQ(job.position, 0);
}

// Saving.

TEST_F(Sync, SavesWhereTheUserSaysAndReleasesTheBuffer) {
  std::vector<uint8_t> peer = RandomBytes(5000, 9);
  CompareJob& job = ComparedWith(RandomBytes(5000, 10), peer);
  host_.savePath = SavePath("saved.bin");
  StartSynchronisation(job);
  Synchronise(job, peer);
  EXPECT_EQ(ReadFileBytes(host_.savePath), peer);
  EXPECT_EQ(host_.proposals, std::vector<std::string>{job.localFile.path});
  EXPECT_EQ(host_.Count("Syncronison complete!"), 1);
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(job.rebuilt, nullptr);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
}

TEST_F(Sync, CancelWritesNothingAndCanStartOver) {
  std::vector<uint8_t> peer = RandomBytes(3000, 9);
  CompareJob& job = ComparedWith(RandomBytes(3000, 10), peer);
  StartSynchronisation(job);
  Synchronise(job, peer);
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(job.rebuilt, nullptr);  // dropped with its temporary file
  EXPECT_EQ(host_.Count("Syncronison complete!"), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);

  host_.savePath = SavePath("second.bin");
  StartSynchronisation(job);
  EXPECT_EQ(NewBytes(job), std::vector<uint8_t>(3000, 0));
  Synchronise(job, peer);
  EXPECT_EQ(ReadFileBytes(host_.savePath), peer);
}

TEST_F(Sync, SavingOverTheLocalFileReplacesItAndKeepsItsPermissions) {
  std::vector<uint8_t> peer = RandomBytes(4000, 11);
  CompareJob& job = ComparedWith(RandomBytes(3000, 12), peer);
  ASSERT_EQ(::chmod(job.localFile.path.c_str(), 0640), 0);
  host_.savePath = job.localFile.path;
  StartSynchronisation(job);
  Synchronise(job, peer);
  EXPECT_EQ(ReadFileBytes(job.localFile.path), peer);
  struct stat info {};
  ASSERT_EQ(::stat(job.localFile.path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

TEST_F(Sync, SavingOverALinkReplacesTheFileItNames) {
  std::vector<uint8_t> peer = RandomBytes(100, 13);
  CompareJob& job = ComparedWith(RandomBytes(100, 14), peer);
  std::string target = dir_.Write("target.bin", {1, 2, 3});
  fs::create_symlink(target, SavePath("link.bin"));
  host_.savePath = SavePath("link.bin");
  StartSynchronisation(job);
  Synchronise(job, peer);
  EXPECT_TRUE(fs::is_symlink(host_.savePath));
  EXPECT_EQ(ReadFileBytes(target), peer);
}

class FailedCreate : public Sync, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedCreate, LogsCouldNotOpenAndLeavesNoFile) {
  std::vector<uint8_t> peer = RandomBytes(700, 15);
  CompareJob& job = ComparedWith(RandomBytes(700, 16), peer);
  const std::string kind = GetParam();
  std::string folder = SavePath("folder");
  if (kind == "MissingFolder") {
    host_.savePath = folder + "/out.bin";
  } else if (kind == "FolderIsAFile") {
    dir_.Write("folder", {1});
    host_.savePath = folder + "/out.bin";
  } else if (kind == "TargetIsAFolder") {
    fs::create_directory(folder);
    host_.savePath = folder;
  } else {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    host_.savePath = folder + "/out.bin";
  }
  StartSynchronisation(job);
  Synchronise(job, peer);
  EXPECT_EQ(host_.Count("Couldn't open file!"), 1);
  EXPECT_EQ(host_.Count("Syncronison complete!"), 0);
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(job.rebuilt, nullptr);
  EXPECT_EQ(TemporaryFiles(), 0);
  EXPECT_FALSE(fs::exists(folder + "/out.bin"));
  if (fs::is_directory(folder)) {
    EXPECT_TRUE(fs::is_empty(folder));
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FailedCreate,
                         ::testing::Values("MissingFolder", "FolderIsAFile", "TargetIsAFolder",
                                           "ReadOnlyFolder"));

// Limits the size of files this process may write, for one test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

TEST_F(Sync, FailedWriteKeepsTheOldFileAndRemovesTheTemporaryOne) {
  std::vector<uint8_t> peer = RandomBytes(50000, 17);
  CompareJob& job = ComparedWith(RandomBytes(1000, 18), peer);
  std::vector<uint8_t> old = {9, 9, 9};
  host_.savePath = dir_.Write("existing.bin", old);
  {
    // No room for the peer's file at all.
    FileSizeLimit limit(20000);
    EXPECT_FALSE(StartSynchronisation(job));
  }
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(TemporaryFiles(), 0);

  // Room for the file, but not for its bytes, as on a full disk.
  ASSERT_TRUE(StartSynchronisation(job));
  ASSERT_EQ(TemporaryFiles(), 1);
  {
    FileSizeLimit limit(20000);
    Synchronise(job, peer);
  }
  EXPECT_EQ(host_.Count("Couldn't write file!"), 1);
  EXPECT_EQ(host_.Count("Syncronison complete!"), 0);
  EXPECT_EQ(ReadFileBytes(host_.savePath), old);
  EXPECT_EQ(TemporaryFiles(), 0);
}

TEST_F(Sync, ZeroPagesOfTheRebuiltFileStayHoles) {
  std::vector<uint8_t> peer(1 << 20, 0);
  const std::vector<uint8_t> island = RandomBytes(5000, 19);
  std::copy(island.begin(), island.end(), peer.begin() + 300000);
  CompareJob& job = ComparedWith(RandomBytes(1000, 20), peer);
  host_.savePath = SavePath("sparse.bin");
  ASSERT_TRUE(StartSynchronisation(job));
  Synchronise(job, peer);
  EXPECT_EQ(ReadFileBytes(host_.savePath), peer);
  struct stat info {};
  ASSERT_EQ(::stat(host_.savePath.c_str(), &info), 0);
  // The island touches three pages; a few more for the file system's own use.
  EXPECT_LE(info.st_blocks * 512, 64 * 1024);
}

// Where found ranges overlap, the sync goes on from inside the one that
// reaches furthest instead of asking for what it already has.
TEST(SyncSourceWithin, ContinuesInsideTheRangeThatReachesFurthest) {
  SyncIndex index;
  index.sources = {{0, 100, 50}, {40, 500, 10}, {70, 900, 20}};
  struct Case {
    int64_t position;
    std::optional<SyncSource> source;
    int64_t next;
  };
  const std::vector<Case> cases = {
      {0, SyncSource{0, 100, 50}, -1},   {45, SyncSource{45, 505, 5}, -1},
      {20, SyncSource{20, 120, 30}, -1}, {50, std::nullopt, 70},
      {75, SyncSource{75, 905, 15}, -1}, {95, std::nullopt, 200},
  };
  for (const Case& c : cases) {
    int64_t next = -1;
    const std::optional<SyncSource> got = FindSyncSource(index, c.position, 200, next, true);
    ASSERT_EQ(got.has_value(), c.source.has_value()) << c.position;
    if (got) {
      EXPECT_EQ(std::tie(got->found, got->start, got->len),
                std::tie(c.source->found, c.source->start, c.source->len))
          << c.position;
    } else {
      EXPECT_EQ(next, c.next) << c.position;
    }
  }
}

}  // namespace
}  // namespace kelpie
