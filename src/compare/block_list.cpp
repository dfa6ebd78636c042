#include "compare/block_list.h"

#include <algorithm>

// A job's block list is kept in file order, each Split record directly in
// front of its two halves, so a walk from the front meets the ranges depth
// first and in ascending order. At most one record is active (Next or Sent);
// every record before it is answered (Split or Settled) and every record after
// it is Queued. That is why the job can remember the active record and a count
// of open ones instead of walking the list: the first Queued record is always
// the one right behind the active record.

namespace kelpie {
namespace {

// Makes block current and stores one of its longs.
void SetBlockValue(CompareJob& job, uint8_t* block, BlockField field, int32_t value) {
  ChangeCurrentRecord(block);
  SetRecordLong(job.blocks.get(), field, value);
}

// A new record behind the current one, filled in; null when memory ran out.
// Its fingerprint is made when its check is sent: fingerprinting a file of
// gigabytes up front would hold the main loop for seconds.
uint8_t* AddBlock(CompareJob& job, int32_t state, int32_t start, int32_t len) {
  RecordList* list = job.blocks.get();
  uint8_t* block = AddRecord(list);
  if (block == nullptr) return nullptr;
  SetRecordLong(list, kBlockState, state);
  SetRecordLong(list, kBlockStart, start);
  SetRecordLong(list, kBlockLen, len);
  return block;
}

// Splits the active block into two halves behind it; the first becomes Next.
bool SplitActiveBlock(CompareJob& job) {
  uint8_t* block = job.activeBlock;
  const int32_t start = BlockValue(job, block, kBlockStart);
  const int32_t len = BlockValue(job, block, kBlockLen);
  const int32_t half = len / 2;
  ChangeCurrentRecord(block);
  uint8_t* first = AddBlock(job, kNext, start, half);
  if (first == nullptr) return false;
  if (AddBlock(job, kQueued, start + half, len - half) == nullptr) {
    ChangeCurrentRecord(first);
    DeleteRecord(job.blocks.get());
    return false;
  }
  SetBlockValue(job, block, kBlockState, kSplit);
  job.activeBlock = first;
  job.openBlocks += 1;  // the block closes, its two halves open
  return true;
}

void SettleActiveBlock(CompareJob& job) {
  uint8_t* block = job.activeBlock;
  SetBlockValue(job, block, kBlockState, kSettled);
  job.openBlocks -= 1;
  auto* next = const_cast<uint8_t*>(PeekNextRecord(block));
  job.activeBlock = next;
  if (next != nullptr) SetBlockValue(job, next, kBlockState, kNext);
}

}  // namespace

std::span<const uint8_t> DataRange(std::span<const uint8_t> data, int64_t start, int64_t len) {
  const auto size = static_cast<int64_t>(data.size());
  if (start < 0 || len <= 0 || start >= size) return {};
  const int64_t end = std::min(size, start + len);
  return std::span<const uint8_t>(data).subspan(static_cast<size_t>(start),
                                                static_cast<size_t>(end - start));
}

int64_t BlockValue(const CompareJob& job, const uint8_t* block, BlockField field) {
  return PeekRecordQuad(job.blocks.get(), block, field);
}

bool CutBlocks(CompareJob& job, int32_t maxBlockSize) {
  job.blocks = NewRecordList(kBlockFormat);
  job.activeBlock = nullptr;
  job.openBlocks = 0;
  ++job.blocksVersion;
  if (!job.blocks) return false;
  if (maxBlockSize <= 0) maxBlockSize = kMaxBlockSize;
  const auto size = static_cast<int32_t>(job.data.size());
  int32_t p = 0;
  do {
    const int32_t n = size - p > maxBlockSize ? maxBlockSize : size - p;
    if (AddBlock(job, kQueued, p, n) == nullptr) {
      job.blocks.reset();
      return false;
    }
    ++job.openBlocks;
    p += n;
  } while (p < size);
  job.activeBlock = FirstRecord(job.blocks.get());
  SetRecordLong(job.blocks.get(), kBlockState, kNext);
  return true;
}

void AnswerActiveBlock(CompareJob& job, int32_t found, int32_t minBlockSize, int32_t maxBlockSize) {
  uint8_t* block = job.activeBlock;
  SetBlockValue(job, block, kBlockFound, found);
  const int32_t start = BlockValue(job, block, kBlockStart);
  const int32_t len = BlockValue(job, block, kBlockLen);
  const bool split = len > maxBlockSize || (start != found && len >= minBlockSize);
  // Without memory for the halves the range stays whole: still answered, and
  // the list still covers the file.
  if (!split || !SplitActiveBlock(job)) SettleActiveBlock(job);
  ++job.blocksVersion;
}

}  // namespace kelpie
