// A version-2 initiator fed answers it never asked for, twice, of the wrong
// size or out of range, and data pieces that continue nothing it asked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "compare/content_chunks.h"
#include "compare/engine.h"
#include "compare/sync.h"
#include "protocol/messages_v2.h"
#include "support/engine_pair.h"
#include "support/job_bytes.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

using test::RandomBytes;

class Version2Initiator : public ::testing::Test {
 protected:
  Version2Initiator() {
    host_.peerVersion = 2;
    const std::vector<uint8_t> local = RandomBytes(100'000, 1);
    FileEntry entry{dir_.Write("local.bin", local), 100'000, "", 0, 0};
    job_ = StartComparison(tables_, host_, entry, FileEntry{"/peer.bin", 50'000, "", 0, 0});
    RunComparisons(tables_, host_);
    for (const test::Envelope& sent : host_.outbox) {
      if (auto check = ReadV2Check(sent.payload); check && sent.payload[0] == CmdV2Check) {
        batch_ = *check;
      }
    }
    host_.outbox.clear();
  }

  int32_t Answer(uint32_t batch, std::vector<int64_t> found) {
    return ApplyCheckAnswers(tables_, 0, job_->fileId, batch, found);
  }

  test::TempDir dir_;
  Tables tables_;
  test::QueueingHost host_{tables_, 3};
  CompareJob* job_ = nullptr;
  V2CheckMessage batch_;
};

TEST_F(Version2Initiator, TakesEachBatchOnceWhole) {
  ASSERT_EQ(job_->state, kComparing);
  ASSERT_FALSE(batch_.checks.empty());
  const size_t n = batch_.checks.size();
  std::vector<int64_t> found(n, -1);
  EXPECT_EQ(Answer(batch_.batch + 1, found), 0);                        // never asked
  EXPECT_EQ(Answer(batch_.batch, std::vector<int64_t>(n + 1, -1)), 0);  // wrong size
  // An offset the peer's 50,000 bytes cannot hold the range at is no answer.
  found[0] = 49'999;
  EXPECT_EQ(Answer(batch_.batch, found), 1);
  EXPECT_EQ(Answer(batch_.batch, found), 0);  // the same batch again
  EXPECT_EQ(PeekRecordLong(job_->blocks.get(), PeekFirstRecord(job_->blocks.get()), kBlockFound),
            -1);
}

TEST_F(Version2Initiator, StoresOnlyPiecesThatContinueAnOutstandingGet) {
  // Nothing is found: the comparison ends and the whole peer file is fetched.
  Answer(batch_.batch, std::vector<int64_t>(batch_.checks.size(), -1));
  for (int pass = 0; pass < 1000 && job_->state == kComparing; ++pass) {
    for (const test::Envelope& sent : host_.outbox) {
      if (auto check = ReadV2Check(sent.payload); check && sent.payload[0] == CmdV2Check) {
        Answer(check->batch, std::vector<int64_t>(check->checks.size(), -1));
      }
    }
    host_.outbox.clear();
    RunComparisons(tables_, host_);
  }
  job_->state = kIdle;
  StartSynchronisation(*job_);
  host_.outbox.clear();
  SyncStep(*job_, host_);
  ASSERT_EQ(host_.outbox.size(), 1u);
  const V2GetMessage get = *ReadV2Get(host_.outbox.front().payload);
  EXPECT_EQ(get.offset, 0);
  EXPECT_EQ(get.len, 50'000);
  EXPECT_EQ(job_->state, kAwaitingData);

  const std::vector<uint8_t> bytes(100, 0xAB);
  const std::vector<RangePiece> refused = {
      {get.request + 1, 0, 100, false, bytes},   // another request
      {get.request, 100, 100, false, bytes},     // not where the Get goes on
      {get.request, 50'000, 100, false, bytes},  // past the file
  };
  for (const RangePiece& piece : refused)
    EXPECT_FALSE(StoreRangePiece(*job_, host_, piece));
  EXPECT_TRUE(StoreRangePiece(*job_, host_, {get.request, 0, 100, false, bytes}));
  EXPECT_EQ(job_->position, 100);
  EXPECT_FALSE(StoreRangePiece(*job_, host_, {get.request, 0, 100, false, bytes}));  // again
  EXPECT_TRUE(StoreRangePiece(*job_, host_, {get.request, 100, 49'900, true, {}}));
  EXPECT_EQ(job_->position, 50'000);
  EXPECT_TRUE(job_->pendingGets.empty());
  EXPECT_EQ(NewBytes(*job_)[99], 0xAB);
  EXPECT_EQ(NewBytes(*job_)[100], 0);
}

// The ranges the checks in the host's outbox ask about, which it drops.
int64_t TakeChecksSent(test::QueueingHost& host) {
  int64_t checks = 0;
  for (const test::Envelope& sent : host.outbox) {
    if (auto check = ReadV2Check(sent.payload); check && sent.payload[0] == CmdV2Check) {
      checks += std::ssize(check->checks);
    }
  }
  host.outbox.clear();
  return checks;
}

// A large file is cut beside the loop: its first checks go once the cuts
// are made, one for each of its top ranges (over a few passes while the
// acceptance is awaited). A job dropped while its file is still being cut
// stops the cutting (the sanitizer build watches that).
TEST(Version2LargeFile, IsCutBesideTheLoop) {
  test::TempDir dir;
  Tables tables;
  test::QueueingHost host{tables, 3};
  host.peerVersion = 2;
  const std::vector<uint8_t> local = RandomBytes(16 << 20, 2);
  const FileEntry entry{dir.Write("local.bin", local), std::ssize(local), "", 0, 0};
  const FileEntry peer{"/peer.bin", 1000, "", 0, 0};
  ASSERT_NE(StartComparison(tables, host, entry, peer), nullptr);
  const int64_t tops =
      std::ssize(RangesOfLevel(CutChunks(local), kTopChunkLevel, 0, std::ssize(local)));
  int64_t checked = 0;
  for (int pass = 0; pass < 10'000 && checked < tops; ++pass) {
    RunComparisons(tables, host);
    const int64_t sent = TakeChecksSent(host);
    checked += sent;
    if (sent == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(checked, tops);
  ASSERT_NE(StartComparison(tables, host, entry, peer), nullptr);
}

// The checks of a large file are hashed some tens of megabytes a pass, so no
// pass holds the loop long, and the passes after it go on without waiting
// for the network; until the acceptance is read, 8 MiB a pass, so that it is
// read soon after it comes. The file is a hole, so the test costs no disk.
TEST(Version2LargeFile, ChecksAreHashedAFewDozenMegabytesAPass) {
  test::TempDir dir;
  Tables tables;
  test::QueueingHost host{tables, 3};
  host.peerVersion = 2;
  const int64_t size = int64_t{160} << 20;
  const std::string path = dir.Write("zeros.bin", {});
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
  CompareJob* job =
      StartComparison(tables, host, {path, size, "", 0, 0}, {"/peer.bin", 1000, "", 0, 0});
  ASSERT_NE(job, nullptr);
  int64_t checked = 0;
  int sendingPasses = 0;
  bool moreAfterFirst = false;
  int64_t mostAccepted = 0;
  for (int pass = 0; pass < 10'000 && checked * (4 << 20) < size; ++pass) {
    RunComparisons(tables, host);
    const int64_t now = TakeChecksSent(host);
    // Ranges of zeros are 4 MiB at most: 64 MiB hashed is 16 of them and
    // one, 8 MiB two and one.
    EXPECT_LE(now, sendingPasses == 0 ? 3 : 17);
    if (sendingPasses > 0) mostAccepted = std::max(mostAccepted, now);
    if (now > 0 && ++sendingPasses == 1) {
      moreAfterFirst = job->strategy->MoreToSend();
      const PeerFile file{1000, {}};
      job->strategy->Accepted(*job, job->fileId, &file);
    }
    checked += now;
    if (now == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_GE(sendingPasses, 3);
  EXPECT_GT(mostAccepted, 3);
  EXPECT_TRUE(moreAfterFirst);
  EXPECT_FALSE(job->strategy->MoreToSend());
}

}  // namespace
}  // namespace kelpie
