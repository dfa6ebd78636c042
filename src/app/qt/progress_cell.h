#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>
#include <cstdint>

namespace kelpie {

struct CompareJob;
class RecordList;

// Paints the Progress cell of one job into cell (left/top inclusive,
// right/bottom exclusive). Only reads the job and its block list.
void PaintProgressCell(QPainter& painter, const QRect& cell, const CompareJob& job);

// The pieces PaintProgressCell is made of, for a painter that keeps what the
// answered front of a block list drew (ProgressCache).

// What a block record fills its columns with.
enum class BlockColour : uint8_t { kNone, kGrey, kYellow, kGreen, kBlue, kRed };
QColor ColourOf(BlockColour colour);

// One record's rectangle as the columns [x0, x1) counted from the cell's left
// edge, always within 0 .. width + 1; nothing when colour is kNone or
// x1 <= x0.
struct BlockSpan {
  int x0 = 0;
  int x1 = 0;
  BlockColour colour = BlockColour::kNone;
};
BlockSpan SpanOfBlock(int width, int64_t size, const RecordList* blocks, const uint8_t* record);

// Paints the job's records from `from` to the end of its list over whatever
// the cell already holds, then the strip of the assembled part. With `from`
// the first record this is the whole map of a job past Requested.
void PaintBlockMapFrom(QPainter& painter, const QRect& cell, const CompareJob& job,
                       const uint8_t* from);

}  // namespace kelpie
