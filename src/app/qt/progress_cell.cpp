// The Progress cell maps the job's local file onto the cell's width: byte
// offset v lands at left + v * width / size (64-bit, truncating).
//
// A job past Requested shows its block map: every record is a rectangle over
// the full height from its start to start + length (plus one pixel, so even a
// record of length 0 shows), grey while queued, yellow while checked, green
// when the peer holds the range at the same offset, blue when elsewhere and
// red when nowhere; blue and red reach one pixel further left so that a
// small miss is not hidden by its green neighbour. Once the new file is being
// assembled, a two-pixel strip along the top (dark green over grey) shows
// how far. A job in Requested shows a plain bar instead: green up to its
// position, grey from there to the cell's right edge.
//
// A file of size 0 has no proportions; every rectangle then spans the cell.
// Positions are kept between left and right + 1 whatever the job holds; a
// cell of negative width shows nothing.

#include "app/qt/progress_cell.h"

#include <algorithm>
#include <cstdint>

#include "app/qt/brushes.h"
#include "compare/entries.h"

namespace kelpie {
namespace {

// Pixel positions counted from the cell's left edge.
class CellScale {
 public:
  CellScale(int width, int64_t size) : width_(width), size_(size) {}

  // Pixel offset of a byte offset.
  int64_t Offset(int64_t value) const { return size_ <= 0 ? 0 : value * width_ / size_; }
  // Pixels covered by value bytes; an empty file counts as wholly covered.
  int64_t Extent(int64_t value) const { return size_ <= 0 ? width_ : value * width_ / size_; }
  int Clamp(int64_t x) const { return static_cast<int>(std::clamp<int64_t>(x, 0, width_ + 1)); }

 private:
  int64_t width_;
  int64_t size_;
};

void Fill(QPainter& painter, int x0, int x1, int top, int bottom, const QColor& colour) {
  if (x1 > x0 && bottom > top) painter.fillRect(QRect(x0, top, x1 - x0, bottom - top), colour);
}

struct BlockFill {
  BlockColour colour = BlockColour::kNone;
  bool overlapLeft = false;
};

BlockFill FillForBlock(int32_t state, int64_t start, int64_t found) {
  switch (state) {
    case kQueued:
      return {BlockColour::kGrey, false};
    case kNext:
    case kSent:
      return {BlockColour::kYellow, false};
    case kSettled:
      if (found == start) return {BlockColour::kGreen, false};
      if (found >= 0) return {BlockColour::kBlue, true};
      return {BlockColour::kRed, true};
    default:  // kSplit: its halves follow it in the list
      return {};
  }
}

// Consecutive fills of one colour that touch or overlap are painted as one
// rectangle: the same pixels as filling them one by one, and far fewer fills
// when thousands of small ranges share a few pixels.
class RunPainter {
 public:
  RunPainter(QPainter& painter, int top, int bottom)
      : painter_(painter), top_(top), bottom_(bottom) {}
  ~RunPainter() { Flush(); }
  RunPainter(const RunPainter&) = delete;
  RunPainter& operator=(const RunPainter&) = delete;

  void Add(int x0, int x1, BlockColour colour) {
    if (x1 <= x0 || colour == BlockColour::kNone) return;
    if (x0_ < x1_ && colour == colour_ && x0 <= x1_ && x1 >= x0_) {
      x0_ = std::min(x0_, x0);
      x1_ = std::max(x1_, x1);
      return;
    }
    Flush();
    x0_ = x0;
    x1_ = x1;
    colour_ = colour;
  }

 private:
  void Flush() {
    Fill(painter_, x0_, x1_, top_, bottom_, ColourOf(colour_));
    x0_ = x1_ = 0;
  }

  QPainter& painter_;
  int top_;
  int bottom_;
  int x0_ = 0;
  int x1_ = 0;
  BlockColour colour_ = BlockColour::kNone;
};

void PaintTopStrip(QPainter& painter, const CellScale& scale, const QRect& cell, int64_t position) {
  const int x1 = cell.left() + scale.Clamp(scale.Extent(position) + 1);
  const int bottom = cell.top() + cell.height();
  Fill(painter, cell.left(), x1, cell.top(), std::min(cell.top() + 2, bottom), kBrushDarkGreen);
  Fill(painter, cell.left(), x1, cell.top() + 1, std::min(cell.top() + 2, bottom), kBrushGrey);
}

void PaintPlainBar(QPainter& painter, const CellScale& scale, const QRect& cell, int64_t position) {
  const int p = cell.left() + scale.Clamp(scale.Extent(position) + 1);
  const int bottom = cell.top() + cell.height();
  Fill(painter, cell.left(), p, cell.top(), bottom, kBrushGreen);
  Fill(painter, p, cell.left() + cell.width() + 1, cell.top(), bottom, kBrushGrey);
}

}  // namespace

QColor ColourOf(BlockColour colour) {
  switch (colour) {
    case BlockColour::kGrey:
      return kBrushGrey;
    case BlockColour::kYellow:
      return kBrushYellow;
    case BlockColour::kGreen:
      return kBrushGreen;
    case BlockColour::kBlue:
      return kBrushBlue;
    case BlockColour::kRed:
      return kBrushRed;
    case BlockColour::kNone:
      break;
  }
  return {};
}

BlockSpan SpanOfBlock(int width, int64_t size, const RecordList* blocks, const uint8_t* record) {
  const int32_t state = PeekRecordLong(blocks, record, kBlockState);
  // A Split record draws nothing (its halves follow it); skip its other fields.
  if (state == kSplit) return {};
  const int64_t start = PeekRecordQuad(blocks, record, kBlockStart);
  const BlockFill fill = FillForBlock(state, start, PeekRecordQuad(blocks, record, kBlockFound));
  if (fill.colour == BlockColour::kNone) return {};
  const CellScale scale(width, size);
  int64_t x0 = scale.Offset(start);
  const int64_t x1 = x0 + scale.Extent(PeekRecordQuad(blocks, record, kBlockLen)) + 1;
  if (fill.overlapLeft && x0 > 0) --x0;
  return {scale.Clamp(x0), scale.Clamp(x1), fill.colour};
}

void PaintBlockMapFrom(QPainter& painter, const QRect& cell, const CompareJob& job,
                       const uint8_t* from) {
  if (cell.width() < 0) return;
  const RecordList* blocks = job.blocks.get();
  {
    RunPainter runs(painter, cell.top(), cell.top() + cell.height());
    for (const uint8_t* record = from; record; record = PeekNextRecord(record)) {
      const BlockSpan span = SpanOfBlock(cell.width(), job.localFile.size, blocks, record);
      runs.Add(cell.left() + span.x0, cell.left() + span.x1, span.colour);
    }
  }
  if (job.position != 0) {
    PaintTopStrip(painter, CellScale(cell.width(), job.localFile.size), cell, job.position);
  }
}

void PaintProgressCell(QPainter& painter, const QRect& cell, const CompareJob& job) {
  if (cell.width() < 0) return;
  if (job.state == kRequested) {
    PaintPlainBar(painter, CellScale(cell.width(), job.localFile.size), cell, job.position);
    return;
  }
  PaintBlockMapFrom(painter, cell, job, PeekFirstRecord(job.blocks.get()));
}

}  // namespace kelpie
