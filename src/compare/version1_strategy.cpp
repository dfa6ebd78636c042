#include "compare/version1_strategy.h"

#include <string>

#include "compare/block_list.h"
#include "compare/engine_host.h"
#include "compare/fingerprint.h"
#include "compare/sync.h"

namespace kelpie {
namespace {

// The check of the job's Next range, if it has one.
void SendNextCheck(CompareJob& job, EngineHost& host) {
  uint8_t* block = job.activeBlock;
  if (block == nullptr || BlockValue(job, block, kBlockState) != kNext) return;
  const int32_t start = BlockValue(job, block, kBlockStart);
  const int32_t len = BlockValue(job, block, kBlockLen);
  RecordList* list = job.blocks.get();
  ChangeCurrentRecord(block);
  // A record is fingerprinted once, when its check is first sent; the bytes
  // never change.
  std::string md5 = GetRecordString(list, kBlockMd5);
  if (md5.size() != 32) {
    md5 = RangeFingerprint(DataRange(job.data, start, len));
    SetRecordString(list, kBlockMd5, md5);
  }
  host.SendCheck(job, start, len, StartLong(job.data, start), md5);
  SetRecordLong(list, kBlockState, kSent);
  host.UpdateJobList(kRepaintJobList);
}

}  // namespace

void Version1Strategy::SendStart(CompareJob& job, EngineHost& host, Tables&) {
  host.SendCompareStart(job);
}

bool Version1Strategy::Prepare(CompareJob& job, const Tables& tables) {
  return CutBlocks(job, tables.MaxBlockSize);
}

void Version1Strategy::CompareStep(CompareJob& job, EngineHost& host) {
  if (!job.blocks) return;
  if (job.openBlocks > 0) {
    SendNextCheck(job, host);
    return;
  }
  host.AddLog("Comparison finished!");
  host.SendStop(job);
  job.state = kIdle;
}

int32_t Version1Strategy::ApplyAnswers(CompareJob& job, uint32_t, std::span<const int64_t> found,
                                       const Tables& tables) {
  // Only the active range can be Sent.
  if (found.size() != 1 || job.activeBlock == nullptr ||
      BlockValue(job, job.activeBlock, kBlockState) != kSent) {
    return 0;
  }
  AnswerActiveBlock(job, static_cast<int32_t>(found[0]), tables.MinBlockSize, tables.MaxBlockSize);
  return 1;
}

void Version1Strategy::Accepted(CompareJob& job, int32_t fileId, const PeerFile*) {
  job.state = kComparing;
  job.fileId = fileId;
}

SyncPacing Version1Strategy::Pacing() const {
  return SyncPacing{1, kMaxGetLength, kMaxGetLength, 1, kMaxGetLength};
}

void Version1Strategy::RequestRange(CompareJob& job, EngineHost& host, uint32_t, int64_t offset,
                                    int64_t len) {
  host.SendGet(job, static_cast<int32_t>(offset), static_cast<int32_t>(len));
}

bool Version1Strategy::AcceptRebuilt(RebuildFile&, EngineHost&) const {
  return true;
}

}  // namespace kelpie
