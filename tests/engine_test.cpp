#include "compare/engine.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "compare/fingerprint.h"
#include "compare/range_index.h"
#include "compare/range_search.h"
#include "protocol/messages.h"
#include "support/engine_pair.h"
#include "support/job_bytes.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::QueueingHost;
using test::RandomBytes;
using test::TempDir;

constexpr ConnectionId kServerConnection = 3;
constexpr int32_t kFileId = 42;

// One record's numbers: state, start, len, found.
using Block = std::tuple<int32_t, int32_t, int32_t, int32_t>;
using Range = std::pair<int32_t, int32_t>;

std::vector<Block> Blocks(const CompareJob& job) {
  std::vector<Block> blocks;
  const RecordList* list = job.blocks.get();
  for (const uint8_t* r = PeekFirstRecord(list); r != nullptr; r = PeekNextRecord(r)) {
    blocks.emplace_back(PeekRecordLong(list, r, kBlockState), PeekRecordLong(list, r, kBlockStart),
                        PeekRecordLong(list, r, kBlockLen), PeekRecordLong(list, r, kBlockFound));
  }
  return blocks;
}

// An initiator with one local file; the tests play the responder by hand.
class Initiator : public ::testing::Test {
 protected:
  // Starts a comparison of a local file with these bytes and lets the peer's
  // OK arrive.
  CompareJob& Start(const std::vector<uint8_t>& bytes, ConnectionId peer = 0) {
    local_.path = dir_.Write("local" + std::to_string(files_++) + ".bin", bytes);
    local_.size = static_cast<int32_t>(bytes.size());
    FileEntry remote{"C:\\peer\\file.bin", 1234, "", peer, 0};
    CompareJob& job = *StartComparison(tables_, host_, local_, remote);
    job.state = kComparing;
    job.fileId = kFileId;
    host_.outbox.clear();
    return job;
  }

  // Takes the checks sent since the last call out of the outbox, as
  // (start, len); other messages stay.
  std::vector<Range> SentChecks() {
    std::vector<Range> checks;
    std::deque<test::Envelope> others;
    for (test::Envelope& sent : host_.outbox) {
      std::optional<BlockCheckMessage> check = ReadBlockCheck(sent.payload);
      if (MessageCommand(sent.payload) == CmdCompare_Block && check) {
        checks.emplace_back(check->start, check->len);
      } else {
        others.push_back(std::move(sent));
      }
    }
    host_.outbox.swap(others);
    return checks;
  }

  // Runs passes, answering every check with answer(start, len), until the
  // comparison is finished; returns the checks in the order sent.
  template <class F>
  std::vector<Range> Compare(F answer, ConnectionId peer = 0) {
    std::vector<Range> order;
    for (int pass = 0; pass < 100000 && Job().state == kComparing; ++pass) {
      RunComparisons(tables_, host_);
      for (const Range& check : SentChecks()) {
        order.push_back(check);
        EXPECT_EQ(ApplyCheckAnswer(tables_, peer, kFileId, answer(check.first, check.second)), 1);
      }
    }
    return order;
  }

  CompareJob& Job() { return *tables_.CompareJobs.At(0); }

  TempDir dir_;
  Tables tables_;
  QueueingHost host_{tables_, kServerConnection};
  FileEntry local_;
  int files_ = 0;
};

class InitialRanges
    : public Initiator,
      public ::testing::WithParamInterface<std::pair<int32_t, std::vector<int32_t>>> {};

TEST_P(InitialRanges, CutEveryMaxBlockSizeAndFingerprintedWhenSent) {
  const auto& [size, lens] = GetParam();
  std::vector<uint8_t> bytes = RandomBytes(static_cast<size_t>(size), 3);
  local_.path = dir_.Write("local.bin", bytes);
  local_.size = size;
  FileEntry remote{"/peer/file.bin", 10, "", 9, 0};
  CompareJob& job = *StartComparison(tables_, host_, local_, remote);

  ASSERT_EQ(host_.outbox.size(), 1u);
  EXPECT_EQ(host_.outbox[0].to, 9);  // the owning client
  EXPECT_EQ(ReadCompareStart(host_.outbox[0].payload)->path, "/peer/file.bin");
  EXPECT_EQ(host_.rebuilds, 1);
  EXPECT_EQ(job.state, kRequested);
  EXPECT_EQ(job.fileId, 0);
  EXPECT_EQ(job.peer, 9);
  EXPECT_EQ(Bytes(job.data), bytes);

  std::vector<Block> expected;
  int32_t start = 0;
  for (int32_t len : lens) {
    expected.emplace_back(expected.empty() ? kNext : kQueued, start, len, 0);
    start += len;
  }
  EXPECT_EQ(Blocks(job), expected);
  // Nothing is hashed up front; the first check carries its range's MD5.
  FirstRecord(job.blocks.get());
  EXPECT_EQ(GetRecordString(job.blocks.get(), kBlockMd5), "");
  StrategyOf(job).Accepted(job, 5, nullptr);
  RunComparisons(tables_, host_);
  ASSERT_EQ(host_.outbox.size(), 2u);
  const std::span<const uint8_t> first(bytes.data(), static_cast<size_t>(lens[0]));
  EXPECT_EQ(ReadBlockCheck(host_.outbox[1].payload)->md5, RangeFingerprint(first));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, InitialRanges,
    ::testing::Values(std::make_pair(0, std::vector<int32_t>{0}),
                      std::make_pair(1, std::vector<int32_t>{1}),
                      std::make_pair(524288, std::vector<int32_t>{524288}),
                      std::make_pair(524289, std::vector<int32_t>{524288, 1}),
                      std::make_pair(1048576, std::vector<int32_t>{524288, 524288}),
                      std::make_pair(1048676, std::vector<int32_t>{524288, 524288, 100})),
    [](const auto& info) { return "Size" + std::to_string(info.param.first); });

TEST_F(Initiator, UnreadableLocalFileIsComparedAsZeros) {
  local_.path = (dir_.path() / "missing.bin").string();
  local_.size = 3000;
  CompareJob& job = *StartComparison(tables_, host_, local_, FileEntry{"/peer", 1, "", 0, 0});
  EXPECT_EQ(Bytes(job.data), std::vector<uint8_t>(3000, 0));
  EXPECT_EQ(Blocks(job), (std::vector<Block>{{kNext, 0, 3000, 0}}));
}

struct SplitCase {
  const char* name;
  int32_t size;
  int32_t found;
  std::vector<Block> blocks;
};

class SplitRule : public Initiator, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(SplitRule, HalvesOnlyRangesNotFoundInPlaceAndLongEnough) {
  const SplitCase& c = GetParam();
  CompareJob& job = Start(RandomBytes(static_cast<size_t>(c.size), 5));
  RunComparisons(tables_, host_);
  ASSERT_EQ(SentChecks(), (std::vector<Range>{{0, c.size}}));
  EXPECT_EQ(ApplyCheckAnswer(tables_, 0, kFileId, c.found), 1);
  EXPECT_EQ(Blocks(job), c.blocks);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SplitRule,
    ::testing::Values(
        SplitCase{"Missing1023Settles", 1023, -1, {{kSettled, 0, 1023, -1}}},
        SplitCase{"Missing1024Halves",
                  1024,
                  -1,
                  {{kSplit, 0, 1024, -1}, {kNext, 0, 512, 0}, {kQueued, 512, 512, 0}}},
        SplitCase{"Missing1025Halves",
                  1025,
                  -1,
                  {{kSplit, 0, 1025, -1}, {kNext, 0, 512, 0}, {kQueued, 512, 513, 0}}},
        SplitCase{"Moved1023Settles", 1023, 77, {{kSettled, 0, 1023, 77}}},
        SplitCase{"Moved1024Halves",
                  1024,
                  77,
                  {{kSplit, 0, 1024, 77}, {kNext, 0, 512, 0}, {kQueued, 512, 512, 0}}},
        SplitCase{"InPlace1025Settles", 1025, 0, {{kSettled, 0, 1025, 0}}},
        SplitCase{"EmptyRangeSettles", 0, -1, {{kSettled, 0, 0, -1}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Initiator, RangeLongerThanMaxBlockSizeIsHalvedEvenInPlace) {
  CompareJob& job = Start(RandomBytes(1025, 5));
  tables_.MaxBlockSize = 1000;
  RunComparisons(tables_, host_);
  SentChecks();
  ApplyCheckAnswer(tables_, 0, kFileId, 0);
  EXPECT_EQ(Blocks(job),
            (std::vector<Block>{{kSplit, 0, 1025, 0}, {kNext, 0, 512, 0}, {kQueued, 512, 513, 0}}));
}

TEST_F(Initiator, ChecksGoDepthFirstInAscendingOrder) {
  CompareJob& job = Start(RandomBytes(4096, 6));
  std::vector<Range> order = Compare([](int32_t, int32_t) { return -1; });
  EXPECT_EQ(order, (std::vector<Range>{{0, 4096},
                                       {0, 2048},
                                       {0, 1024},
                                       {0, 512},
                                       {512, 512},
                                       {1024, 1024},
                                       {1024, 512},
                                       {1536, 512},
                                       {2048, 2048},
                                       {2048, 1024},
                                       {2048, 512},
                                       {2560, 512},
                                       {3072, 1024},
                                       {3072, 512},
                                       {3584, 512}}));
  EXPECT_EQ(job.state, kIdle);
  EXPECT_EQ(host_.Count("Comparison finished!"), 1);
  ASSERT_EQ(host_.outbox.size(), 1u);
  EXPECT_EQ(host_.outbox[0].to, kServerConnection);
  EXPECT_EQ(ReadCompareStop(host_.outbox[0].payload)->fileId, kFileId);
}

TEST_F(Initiator, CheckCarriesStartLongAndFingerprintOfTheRange) {
  std::vector<uint8_t> bytes = RandomBytes(3000, 8);
  Start(bytes);
  RunComparisons(tables_, host_);
  ApplyCheckAnswer(tables_, 0, kFileId, -1);
  RunComparisons(tables_, host_);
  ASSERT_EQ(host_.outbox.size(), 2u);
  std::optional<BlockCheckMessage> check = ReadBlockCheck(host_.outbox[1].payload);
  ASSERT_TRUE(check);
  EXPECT_EQ(host_.outbox[1].payload.size(), kBlockCheckSize);
  EXPECT_EQ(check->fileId, kFileId);
  EXPECT_EQ(check->start, 0);
  EXPECT_EQ(check->len, 1500);
  EXPECT_EQ(check->startLong, StartLong(bytes, 0));
  EXPECT_EQ(check->md5, RangeFingerprint(std::span(bytes).first(1500)));
}

// What the record walks say, step by step, for comparison with the engine's
// shortcuts: the first record in state Next, and whether any is still open.
std::optional<Range> ReferenceNextCheck(CompareJob& job, bool& pending) {
  pending = false;
  std::optional<Range> next;
  RecordList* list = job.blocks.get();
  FirstRecord(list);
  do {
    if (GetRecordLong(list, kBlockState) < kSplit) pending = true;
    if (GetRecordLong(list, kBlockState) == kNext && !next) {
      next = Range{GetRecordLong(list, kBlockStart), GetRecordLong(list, kBlockLen)};
    }
  } while (NextRecord(list) != nullptr);
  return next;
}

TEST_F(Initiator, EngineSendsWhatTheRecordWalksWouldSend) {
  std::mt19937 random(11);
  CompareJob& job = Start(RandomBytes(70000, 12));
  int finished = 0;
  for (int pass = 0; pass < 20000 && job.state == kComparing; ++pass) {
    bool pending = false;
    std::optional<Range> expected = ReferenceNextCheck(job, pending);
    RunComparisons(tables_, host_);
    std::vector<Range> sent = SentChecks();
    if (!pending) {
      EXPECT_TRUE(sent.empty());
      ++finished;
      break;
    }
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_TRUE(expected);
    EXPECT_EQ(sent[0], *expected);
    int32_t choice = static_cast<int32_t>(random() % 3);
    int32_t found = choice == 0 ? -1 : choice == 1 ? sent[0].first : 5;
    ASSERT_EQ(ApplyCheckAnswer(tables_, 0, kFileId, found), 1);
  }
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(job.state, kIdle);
  // The answered leaves cover the file exactly.
  int32_t covered = 0;
  for (const auto& [state, start, len, found] : Blocks(job)) {
    EXPECT_GE(state, kSplit);
    if (state == kSettled) {
      EXPECT_EQ(start, covered);
      covered += len;
    }
  }
  EXPECT_EQ(covered, 70000);
}

TEST_F(Initiator, AnswerWithNothingWaitingIsIgnored) {
  CompareJob& job = Start(RandomBytes(2000, 1));
  EXPECT_EQ(ApplyCheckAnswer(tables_, 0, kFileId, -1), 0);  // no check sent yet
  RunComparisons(tables_, host_);
  EXPECT_EQ(ApplyCheckAnswer(tables_, 0, kFileId, 0), 1);
  std::vector<Block> before = Blocks(job);
  EXPECT_EQ(ApplyCheckAnswer(tables_, 0, kFileId, -1), 0);  // a second answer in a row
  EXPECT_EQ(Blocks(job), before);
}

struct ForeignAnswer {
  const char* name;
  ConnectionId jobPeer;
  int32_t jobState;
  ConnectionId answerPeer;
  int32_t answerFileId;
};

class AnswerMatching : public Initiator, public ::testing::WithParamInterface<ForeignAnswer> {};

TEST_P(AnswerMatching, OnlyTheJobsOwnPeerSettlesIt) {
  const ForeignAnswer& c = GetParam();
  CompareJob& job = Start(RandomBytes(2000, 1), c.jobPeer);
  RunComparisons(tables_, host_);
  job.state = c.jobState;
  std::vector<Block> before = Blocks(job);
  EXPECT_EQ(ApplyCheckAnswer(tables_, c.answerPeer, c.answerFileId, 0), 0);
  EXPECT_EQ(Blocks(job), before);
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, AnswerMatching,
    ::testing::Values(ForeignAnswer{"OtherClient", 7, kComparing, 8, kFileId},
                      ForeignAnswer{"ServerConnectionForClientJob", 7, kComparing, 0, kFileId},
                      ForeignAnswer{"ClientForServerJob", 0, kComparing, 7, kFileId},
                      ForeignAnswer{"OtherFileId", 0, kComparing, 0, kFileId + 1},
                      ForeignAnswer{"JobStillRequested", 0, kRequested, 0, kFileId}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Initiator, AnswerGoesToTheJobOfItsOwnPeer) {
  CompareJob& first = Start(RandomBytes(2000, 1), 7);
  CompareJob& second = Start(RandomBytes(2000, 2), 8);
  RunComparisons(tables_, host_);
  EXPECT_EQ(SentChecks().size(), 2u);  // one check per job and pass
  EXPECT_EQ(ApplyCheckAnswer(tables_, 8, kFileId, 0), 1);
  EXPECT_EQ(std::get<0>(Blocks(first)[0]), kSent);
  EXPECT_EQ(std::get<0>(Blocks(second)[0]), kSettled);
}

TEST_F(Initiator, AbortedJobStillTakesTheLateAnswerButSendsNoMore) {
  CompareJob& job = Start(RandomBytes(2000, 1));
  RunComparisons(tables_, host_);
  SentChecks();
  job.state = kIdle;
  EXPECT_EQ(ApplyCheckAnswer(tables_, 0, kFileId, -1), 1);
  RunComparisons(tables_, host_);
  EXPECT_TRUE(SentChecks().empty());
  EXPECT_EQ(host_.Count("Comparison finished!"), 0);
}

TEST_F(Initiator, JobsInOtherStatesArePassedOver) {
  for (int32_t state : {kRequested, kIdle, kAwaitingData}) {
    CompareJob& job = Start(RandomBytes(100, 1));
    job.state = state;
  }
  RunComparisons(tables_, host_);
  EXPECT_TRUE(host_.outbox.empty());
}

// The responder's side.
class Responder : public ::testing::Test {
 protected:
  FileEntry& Offer(const std::vector<uint8_t>& bytes, const std::string& name = "offered.bin") {
    FileEntry& entry = *tables_.LocalFiles.Append();
    entry.path = dir_.Write(name, bytes);
    entry.size = static_cast<int32_t>(bytes.size());
    entry.fileId = NewFileId(tables_);
    return entry;
  }

  TempDir dir_;
  Tables tables_;
  QueueingHost host_{tables_, kServerConnection};
};

TEST_F(Responder, RefusesUnlistedAndUnreadableFiles) {
  FileEntry& entry = Offer(RandomBytes(10, 1));
  Acceptance unlisted = AcceptComparison(tables_, entry.path + "x", 7);
  EXPECT_EQ(unlisted.job, nullptr);
  EXPECT_EQ(unlisted.error, kNotListed);
  std::filesystem::remove(entry.path);
  Acceptance unreadable = AcceptComparison(tables_, entry.path, 7);
  EXPECT_EQ(unreadable.job, nullptr);
  EXPECT_EQ(unreadable.error, kCannotOpen);
  EXPECT_EQ(tables_.CompareJobs.Count(), 0);
}

TEST_F(Responder, AcceptedJobHoldsTheFileUnderTheEntrysNumber) {
  std::vector<uint8_t> bytes = RandomBytes(5000, 2);
  FileEntry& entry = Offer(bytes);
  Acceptance first = AcceptComparison(tables_, entry.path, 7);
  Acceptance second = AcceptComparison(tables_, entry.path, 8);
  ASSERT_NE(first.job, nullptr);
  ASSERT_NE(second.job, nullptr);
  EXPECT_EQ(first.job->state, kRequested);
  EXPECT_EQ(first.job->peer, 7);
  EXPECT_FALSE(first.job->remoteFile);
  EXPECT_FALSE(first.job->blocks);
  EXPECT_EQ(Bytes(first.job->data), bytes);
  EXPECT_EQ(first.job->fileId, entry.fileId);
  EXPECT_EQ(second.job->fileId, entry.fileId);
  EXPECT_EQ(tables_.CompareJobs.Count(), 2);
  // One view of the file serves both, and lives until the last job goes.
  EXPECT_EQ(first.job->loaded, second.job->loaded);
  EXPECT_EQ(first.job->data.data(), second.job->data.data());
  std::weak_ptr<LoadedFile> shared = first.job->loaded;
  CompareJob* second_job = second.job;
  ASSERT_TRUE(tables_.CompareJobs.MakeCurrent(first.job) && tables_.CompareJobs.Delete());
  EXPECT_FALSE(shared.expired());
  ASSERT_TRUE(tables_.CompareJobs.MakeCurrent(second_job) && tables_.CompareJobs.Delete());
  EXPECT_TRUE(shared.expired());
}

// What is worked out from a file is made beside the caller, once for every
// job on it, and equals what the bytes give when worked out at once.
TEST_F(Responder, FileWorkIsMadeOnceBesideTheLoopForEveryJob) {
  std::vector<uint8_t> bytes = RandomBytes(300000, 5);
  FileEntry& entry = Offer(bytes);
  LoadedFile& file = *AcceptComparison(tables_, entry.path, 7).job->loaded;
  EXPECT_EQ(AcceptComparison(tables_, entry.path, 8).job->loaded.get(), &file);
  const WholeFileHash* hash = nullptr;
  std::shared_ptr<const ChunkIndex> chunks;
  std::shared_ptr<const RangeIndex> offsets;
  while (!hash || !chunks || !offsets) {
    hash = file.ReadySha256();
    chunks = file.ReadyChunkIndex();
    offsets = file.ReadyRangeIndex();
    std::this_thread::yield();
  }
  EXPECT_EQ(*hash, Sha256(bytes));
  EXPECT_EQ(chunks->RangeCount(), ChunkIndex(bytes).RangeCount());
  EXPECT_EQ(offsets->MemoryBytes(), RangeIndex(bytes).MemoryBytes());
  EXPECT_EQ(file.PreparedBytes(), 300000);
  EXPECT_EQ(file.ReadyChunkIndex(), chunks);
}

// A file given up while its work runs stops the work and leaves nothing
// behind (the sanitizer build watches for leaks and stray accesses). The
// file is large enough that its work is still running however long this
// thread waits for a core between two looks.
TEST_F(Responder, FileGivenUpWhileItsWorkRunsStopsIt) {
  FileEntry& entry = Offer(RandomBytes(16 << 20, 6));
  for (int round = 0; round < 3; ++round) {
    std::shared_ptr<LoadedFile> file = tables_.loadedFiles.Open(entry.path, entry.size);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->ReadySha256(), nullptr);
    EXPECT_EQ(file->ReadyChunkIndex(), nullptr);
    EXPECT_EQ(file->ReadyRangeIndex(), nullptr);
    EXPECT_LT(file->PreparedBytes(), entry.size);
  }
}

TEST_F(Responder, FirstEntryWithThePathWinsAndGetsANumber) {
  FileEntry& first = Offer(RandomBytes(10, 1));
  FileEntry& twin = *tables_.LocalFiles.Append();
  twin = first;
  twin.fileId = NewFileId(tables_);
  first.fileId = 0;  // listed without a number
  Acceptance accepted = AcceptComparison(tables_, first.path, 0);
  ASSERT_NE(accepted.job, nullptr);
  EXPECT_NE(first.fileId, 0);
  EXPECT_NE(first.fileId, twin.fileId);
  EXPECT_EQ(accepted.job->fileId, first.fileId);
}

TEST_F(Responder, EmptyFileAnswersMinusOne) {
  FileEntry& entry = Offer({});
  CompareJob& job = *AcceptComparison(tables_, entry.path, 0).job;
  EXPECT_TRUE(job.data.empty());
  EXPECT_EQ(CheckRange(job, 0, 0, 0, RangeFingerprint({})), -1);
}

struct CheckCase {
  const char* name;
  int32_t start;
  int32_t len;
  int32_t copiedFrom;  // the range's bytes are taken from here; -1 = random bytes
};

class CheckRangeCases : public Responder, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckRangeCases, GivesTheScansAnswer) {
  const CheckCase& c = GetParam();
  std::vector<uint8_t> bytes = RandomBytes(8192, 4);
  // A copy of the bytes at 1000..1999 also sits at 6000, so ranges there are
  // found twice.
  std::copy(bytes.begin() + 1000, bytes.begin() + 2000, bytes.begin() + 6000);
  CompareJob& job = *AcceptComparison(tables_, Offer(bytes).path, 0).job;
  std::vector<uint8_t> range = RandomBytes(static_cast<size_t>(std::max(c.len, 0)), 99);
  if (c.copiedFrom >= 0) {
    range.assign(bytes.begin() + c.copiedFrom, bytes.begin() + c.copiedFrom + c.len);
  }
  const int32_t startLong = StartLong(range, 0);
  const std::string md5 = RangeFingerprint(range);
  EXPECT_EQ(CheckRange(job, c.start, c.len, startLong, md5),
            NaiveFindRange(bytes, c.start, c.len, startLong, md5));
}

INSTANTIATE_TEST_SUITE_P(Ranges, CheckRangeCases,
                         ::testing::Values(CheckCase{"InPlace", 3000, 512, 3000},
                                           CheckCase{"InPlaceBeatsLowerCopy", 6000, 1000, 1000},
                                           CheckCase{"MovedFindsLowestCopy", 100, 1000, 6000},
                                           CheckCase{"BeyondTheEndStillSearched", 9000, 1000, 1000},
                                           CheckCase{"Missing", 0, 512, -1},
                                           CheckCase{"NegativeStart", -5, 512, 1000},
                                           CheckCase{"LongerThanTheFile", 0, 9000, -1},
                                           CheckCase{"NegativeLength", 0, -4, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Responder, StopShowsTheJobComplete) {
  FileEntry& entry = Offer(RandomBytes(4321, 1));
  CompareJob& job = *AcceptComparison(tables_, entry.path, 0).job;
  job.position = 512;
  StopResponderJob(job, host_);
  EXPECT_EQ(job.position, 4321);
  EXPECT_EQ(host_.repaints, 1);
  EXPECT_EQ(tables_.CompareJobs.Count(), 1);
}

TEST(NewFileId, CountsUpAndNeverGivesZero) {
  Tables tables;
  tables.nextFileId = 5;
  EXPECT_EQ(NewFileId(tables), 5);
  EXPECT_EQ(NewFileId(tables), 6);
  tables.nextFileId = INT32_MAX;
  EXPECT_EQ(NewFileId(tables), INT32_MAX);
  EXPECT_EQ(NewFileId(tables), 1);
  tables.nextFileId = 0;
  EXPECT_EQ(NewFileId(tables), 1);
}

}  // namespace
}  // namespace kelpie

namespace kelpie {
namespace {

TEST(JobSerial, EveryJobTheEngineMakesHasItsOwn) {
  Tables tables;
  FileEntry local{"/no/such/local", 10, "", 0, 0};
  FileEntry remote{"/no/such/remote", 10, "", 0, 0};
  class QuietHost : public EngineHost {
   public:
    void SendCompareStart(const CompareJob&) override {}
    void SendCheck(const CompareJob&, int32_t, int32_t, int32_t, std::string_view) override {}
    void SendGet(const CompareJob&, int32_t, int32_t) override {}
    void SendStop(const CompareJob&) override {}
    void AddLog(std::string_view) override {}
    void UpdateJobList(int32_t) override {}
    std::string AskSavePath(std::string_view) override { return ""; }
  } host;
  const CompareJob* a = StartComparison(tables, host, local, remote);
  const CompareJob* b = StartComparison(tables, host, local, remote);
  EXPECT_NE(a->serial, 0u);
  EXPECT_NE(b->serial, 0u);
  EXPECT_NE(a->serial, b->serial);
}

}  // namespace
}  // namespace kelpie
