#include "compare/sync_index.h"

#include <algorithm>

#include "compare/block_list.h"

namespace kelpie {
namespace {

// Blocks before a position looked at for one that reaches past it.
constexpr int kSourcesLookedBack = 8;

bool Usable(const SyncSource& source, int32_t state, int64_t dataSize, int64_t newSize) {
  if (state != kSplit && state != kSettled) return false;
  if (source.len <= 0 || source.found < 0 || source.start < 0) return false;
  return int64_t{source.start} + source.len <= dataSize &&
         int64_t{source.found} + source.len <= newSize;
}

}  // namespace

void RefreshSyncIndex(CompareJob& job) {
  SyncIndex& index = job.syncIndex;
  if (index.version == job.blocksVersion) return;
  index.sources.clear();
  const auto dataSize = static_cast<int64_t>(job.data.size());
  const int64_t newSize = job.rebuilt ? job.rebuilt->size() : 0;
  for (const uint8_t* block = PeekFirstRecord(job.blocks.get()); block != nullptr;
       block = PeekNextRecord(block)) {
    SyncSource source{BlockValue(job, block, kBlockFound), BlockValue(job, block, kBlockStart),
                      BlockValue(job, block, kBlockLen)};
    if (Usable(source, BlockValue(job, block, kBlockState), dataSize, newSize)) {
      index.sources.push_back(source);
    }
  }
  // Stable, so that among blocks found at one offset the first in list order
  // (a Split range before its halves) comes first.
  std::stable_sort(index.sources.begin(), index.sources.end(),
                   [](const SyncSource& a, const SyncSource& b) { return a.found < b.found; });
  index.version = job.blocksVersion;
}

std::optional<SyncSource> FindSyncSource(const SyncIndex& index, int64_t position, int64_t newSize,
                                         int64_t& next, bool fromWithin) {
  auto at = std::lower_bound(
      index.sources.begin(), index.sources.end(), position,
      [](const SyncSource& source, int64_t offset) { return source.found < offset; });
  if (at != index.sources.end() && at->found == position) return *at;
  next = at != index.sources.end() ? std::min(at->found, newSize) : newSize;
  if (!fromWithin) return std::nullopt;
  // Blocks overlap where found ranges do; the ones just before reach furthest.
  const SyncSource* best = nullptr;
  for (int looked = 0; at != index.sources.begin() && looked < kSourcesLookedBack; ++looked) {
    --at;
    if (at->found + at->len > position && (!best || at->found + at->len > best->found + best->len))
      best = &*at;
  }
  if (best == nullptr) return std::nullopt;
  const int64_t skip = position - best->found;
  return SyncSource{position, best->start + skip, best->len - skip};
}

}  // namespace kelpie
