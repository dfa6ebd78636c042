// The engine answers a job's ranges depth first in ascending order: every
// record in front of the active one (Next or Sent) is Split or Settled, those
// two states are final, and new records only ever go in right behind the
// active one. So what the front of the list paints never changes once
// answered, and painting is one fill after the other in list order.
//
// The cache therefore folds answered records, from the frontier on, into one
// colour per pixel column (the colour the last of them left there), paints
// those columns as runs, and paints only the records from the first open one
// to the end the ordinary way on top: the same pixels as painting every
// record, for the cost of the open tail.
//
// Nothing here trusts that blindly. Should a folded record change after all,
// the cell shows a stale colour, nothing worse. The frontier is only followed
// while it can still be in the job's list: an entry starts over when the job
// holds another list, the list has another first record or fewer records
// than at the last paint, or the cell's width or the file's size changed; and
// entries of jobs that left CompareJobs are dropped (Prune). Serials are
// never reused, so no entry is taken for another job's list.

#include "app/qt/progress_cache.h"

#include <algorithm>

namespace kelpie {
namespace {

// Wider cells (which the window never has) are painted without a cache
// rather than holding a column array of that size.
constexpr int kMaxCachedWidth = 1 << 16;

bool IsAnswered(int32_t state) {
  return state == kSplit || state == kSettled;
}

void PaintColumns(QPainter& painter, const QRect& cell, const std::vector<BlockColour>& columns) {
  if (cell.height() <= 0) return;
  for (size_t x = 0; x < columns.size();) {
    size_t end = x + 1;
    while (end < columns.size() && columns[end] == columns[x])
      ++end;
    if (columns[x] != BlockColour::kNone) {
      painter.fillRect(QRect(cell.left() + static_cast<int>(x), cell.top(),
                             static_cast<int>(end - x), cell.height()),
                       ColourOf(columns[x]));
    }
    x = end;
  }
}

}  // namespace

const uint8_t* ProgressCache::FoldAnswered(Entry& entry, int width, const CompareJob& job) {
  const RecordList* list = job.blocks.get();
  const int64_t size = job.localFile.size;
  const uint8_t* first = PeekFirstRecord(list);
  const int32_t count = CountRecords(list);
  if (entry.width != width || entry.size != size || entry.list != list || entry.first != first ||
      count < entry.count) {
    entry.width = width;
    entry.size = size;
    entry.list = list;
    entry.first = first;
    entry.frontier = nullptr;
    entry.columns.assign(static_cast<size_t>(width) + 1, BlockColour::kNone);
  }
  entry.count = count;
  const uint8_t* record = entry.frontier ? PeekNextRecord(entry.frontier) : first;
  for (; record; record = PeekNextRecord(record)) {
    if (!IsAnswered(PeekRecordLong(list, record, kBlockState))) break;
    const BlockSpan span = SpanOfBlock(width, size, list, record);
    if (span.colour != BlockColour::kNone && span.x1 > span.x0) {
      std::fill(entry.columns.begin() + span.x0, entry.columns.begin() + span.x1, span.colour);
    }
    entry.frontier = record;
  }
  return record;
}

void ProgressCache::Paint(QPainter& painter, const QRect& cell, const CompareJob& job) {
  const int width = cell.width();
  // Jobs without a lasting name, plain bars and odd cells are cheap or rare
  // enough to paint in full.
  if (job.serial == 0 || job.state == kRequested || !job.blocks || width < 0 ||
      width > kMaxCachedWidth) {
    PaintProgressCell(painter, cell, job);
    return;
  }
  Entry& entry = entries_[job.serial];
  const uint8_t* open = FoldAnswered(entry, width, job);
  PaintColumns(painter, cell, entry.columns);
  PaintBlockMapFrom(painter, cell, job, open);
}

void ProgressCache::Prune(const Table<CompareJob>& jobs) {
  if (entries_.empty()) return;
  live_.clear();
  for (const CompareJob& job : jobs)
    live_.push_back(job.serial);
  std::sort(live_.begin(), live_.end());
  std::erase_if(entries_, [this](const auto& item) {
    return !std::binary_search(live_.begin(), live_.end(), item.first);
  });
}

int32_t ProgressCache::Size() const {
  return static_cast<int32_t>(entries_.size());
}

}  // namespace kelpie
