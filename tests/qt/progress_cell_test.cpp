#include "app/qt/progress_cell.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTreeWidget>
#include <array>
#include <limits>
#include <random>
#include <vector>

#include "app/qt/brushes.h"
#include "app/qt/qt_window.h"
#include "protocol/peer_state.h"
#include "qt_test_app.h"

namespace kelpie {
namespace {

using test::FillJob;
using test::TestBlock;

// The cell spans x 10..109 (width 100) and y 2..11; right is 110. With a
// file of 1000 bytes one pixel stands for 10 bytes.
const QRect kCell(10, 2, 100, 10);
constexpr int kLeft = 10;
constexpr int kRight = 110;
constexpr int kTop = 2;
constexpr int kMiddle = 7;
const QColor kBackground(Qt::white);

QImage Paint(const CompareJob& job) {
  QImage image(130, 16, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter painter(&image);
  PaintProgressCell(painter, kCell, job);
  return image;
}

QColor At(const QImage& image, int x, int y = kMiddle) {
  return image.pixelColor(x, y);
}

// Colour runs along one row: [from, to) has colour.
struct Run {
  int from;
  int to;
  QColor colour;
};

void ExpectRow(const QImage& image, int y, std::initializer_list<Run> runs) {
  for (const Run& run : runs) {
    for (int x = run.from; x < run.to; ++x) {
      ASSERT_EQ(At(image, x, y), run.colour) << "x=" << x << " y=" << y;
    }
  }
}

TEST(ProgressCell, AllFoundInPlaceIsGreenToOnePastTheRightEdge) {
  CompareJob job;
  FillJob(job, kComparing, 1000, 0, {{kSettled, 0, 500, 0}, {kSettled, 500, 500, 500}});
  const QImage image = Paint(job);
  ExpectRow(
      image, kMiddle,
      {{0, kLeft, kBackground}, {kLeft, kRight + 1, kBrushGreen}, {kRight + 1, 130, kBackground}});
  ExpectRow(image, kTop, {{kLeft, kRight + 1, kBrushGreen}});
  EXPECT_EQ(At(image, 50, kTop - 1), kBackground);
  EXPECT_EQ(At(image, 50, kTop + kCell.height()), kBackground);
}

TEST(ProgressCell, FoundElsewhereAndMissingReachOnePixelLeft) {
  CompareJob job;
  FillJob(job, kIdle, 1000, 0,
          {{kSettled, 0, 300, 0}, {kSettled, 300, 300, 700}, {kSettled, 600, 400, -1}});
  const QImage image = Paint(job);
  // Green 10..40, blue from 40 moved to 39 up to 70, red from 70 moved to 69.
  ExpectRow(image, kMiddle,
            {{kLeft, 39, kBrushGreen}, {39, 69, kBrushBlue}, {69, kRight + 1, kBrushRed}});
}

TEST(ProgressCell, OverlapNeverCrossesTheLeftEdge) {
  CompareJob job;
  FillJob(job, kComparing, 1000, 0, {{kSettled, 0, 1000, -1}});
  const QImage image = Paint(job);
  EXPECT_EQ(At(image, kLeft - 1), kBackground);
  EXPECT_EQ(At(image, kLeft), kBrushRed);
}

TEST(ProgressCell, QueuedIsGreyAndCheckedIsYellow) {
  CompareJob job;
  FillJob(job, kComparing, 1000, 0,
          {{kSent, 0, 500, 0}, {kQueued, 500, 250, 0}, {kNext, 750, 250, 0}});
  const QImage image = Paint(job);
  // 10..60 yellow then grey from 60 (x1 of the first is 61, overdrawn)...
  ExpectRow(image, kMiddle,
            {{kLeft, 60, kBrushYellow}, {60, 85, kBrushGrey}, {85, kRight + 1, kBrushYellow}});
}

TEST(ProgressCell, ZeroLengthRecordPaintsOneColumn) {
  CompareJob job;
  FillJob(job, kComparing, 1000, 0, {{kQueued, 0, 1000, 0}, {kNext, 500, 0, 0}});
  const QImage image = Paint(job);
  ExpectRow(image, kMiddle,
            {{kLeft, 60, kBrushGrey}, {60, 61, kBrushYellow}, {61, kRight + 1, kBrushGrey}});
}

TEST(ProgressCell, SplitRecordsAreNotDrawn) {
  CompareJob job;
  FillJob(job, kComparing, 1000, 0, {{kSplit, 0, 1000, 0}});
  const QImage image = Paint(job);
  ExpectRow(image, kMiddle, {{0, 130, kBackground}});
}

TEST(ProgressCell, AssembledPartShowsAsDarkGreenOverGreyStrip) {
  CompareJob job;
  FillJob(job, kSynchronising, 1000, 500, {{kSettled, 0, 1000, 0}});
  const QImage image = Paint(job);
  // Strip from left to left + 50 + 1.
  ExpectRow(image, kTop, {{kLeft, 61, kBrushDarkGreen}, {61, kRight + 1, kBrushGreen}});
  ExpectRow(image, kTop + 1, {{kLeft, 61, kBrushGrey}, {61, kRight + 1, kBrushGreen}});
  ExpectRow(image, kTop + 2, {{kLeft, kRight + 1, kBrushGreen}});
}

TEST(ProgressCell, IdleResponderShowsOnlyTheStripOnTheBackground) {
  CompareJob job;
  FillJob(job, kIdle, 1000, 300, {}, /*withBlockList=*/false);
  const QImage image = Paint(job);
  ExpectRow(image, kTop, {{kLeft, 41, kBrushDarkGreen}, {41, 130, kBackground}});
  ExpectRow(image, kTop + 1, {{kLeft, 41, kBrushGrey}, {41, 130, kBackground}});
  ExpectRow(image, kMiddle, {{0, 130, kBackground}});
}

TEST(ProgressCell, ResponderBarIsGreenUpToItsPositionThenGrey) {
  CompareJob job;
  FillJob(job, kRequested, 1000, 250, {}, false);
  const QImage image = Paint(job);
  ExpectRow(image, kMiddle,
            {{kLeft - 1, kLeft, kBackground},
             {kLeft, 36, kBrushGreen},
             {36, kRight + 1, kBrushGrey},
             {kRight + 1, 130, kBackground}});
  ExpectRow(image, kTop, {{kLeft, 36, kBrushGreen}});
}

TEST(ProgressCell, RequestedInitiatorShowsOneGreenColumn) {
  CompareJob job;
  FillJob(job, kRequested, 1000, 0, {{kNext, 0, 1000, 0}});
  const QImage image = Paint(job);
  ExpectRow(image, kMiddle, {{kLeft, kLeft + 1, kBrushGreen}, {kLeft + 1, kRight + 1, kBrushGrey}});
}

TEST(ProgressCell, EmptyFileFillsTheWholeCell) {
  CompareJob requested;
  FillJob(requested, kRequested, 0, 0, {}, false);
  ExpectRow(Paint(requested), kMiddle,
            {{kLeft, kRight + 1, kBrushGreen}, {kRight + 1, 130, kBackground}});

  CompareJob compared;
  FillJob(compared, kIdle, 0, 0, {{kSettled, 0, 0, -1}});
  ExpectRow(Paint(compared), kMiddle, {{kLeft, kRight + 1, kBrushRed}});
}

TEST(ProgressCell, LargestFileKeepsItsProportions) {
  constexpr int32_t kSize = std::numeric_limits<int32_t>::max();
  // The last 1% of the file: 32-bit offset x width would overflow here.
  constexpr int32_t kStart = kSize - kSize / 100;
  CompareJob job;
  FillJob(job, kComparing, kSize, 0,
          {{kSettled, 0, kStart, 0}, {kSettled, kStart, kSize - kStart, kStart + 1}});
  const QImage image = Paint(job);
  // Both lengths truncate to one pixel less than their share, so the blue
  // record ends at 110 instead of reaching past the edge.
  ExpectRow(image, kMiddle,
            {{kLeft, 108, kBrushGreen}, {108, kRight, kBrushBlue}, {kRight, 130, kBackground}});
}

TEST(ProgressCell, PositionsOutsideTheFileStayInsideTheCell) {
  CompareJob ahead;
  FillJob(ahead, kRequested, 1000, std::numeric_limits<int32_t>::max(), {}, false);
  ExpectRow(
      Paint(ahead), kMiddle,
      {{0, kLeft, kBackground}, {kLeft, kRight + 1, kBrushGreen}, {kRight + 1, 130, kBackground}});

  CompareJob behind;
  FillJob(behind, kRequested, 1000, -500, {}, false);
  ExpectRow(
      Paint(behind), kMiddle,
      {{0, kLeft, kBackground}, {kLeft, kRight + 1, kBrushGrey}, {kRight + 1, 130, kBackground}});
}

// A degenerate cell (the list can be squeezed so) shows nothing at all, for
// blocks and plain bars alike.
TEST(ProgressCell, CellOfNegativeWidthPaintsNothing) {
  CompareJob compared;
  FillJob(compared, kSynchronising, 1000, 500, {{kSettled, 0, 1000, -1}});
  CompareJob requested;
  FillJob(requested, kRequested, 1000, 500, {}, false);
  for (const CompareJob* job : {&compared, &requested}) {
    QImage image(130, 16, QImage::Format_RGB32);
    image.fill(kBackground);
    {
      QPainter painter(&image);
      PaintProgressCell(painter, QRect(60, 2, -30, 10), *job);
    }
    ExpectRow(image, kTop, {{0, 130, kBackground}});
    ExpectRow(image, kMiddle, {{0, 130, kBackground}});
  }
}

// Thousands of small ranges share a few pixels; however they are painted,
// the cell must look as if every range were filled in turn.
TEST(ProgressCell, ManySmallRangesLookAsIfFilledOneByOne) {
  constexpr int32_t kSize = 100000;
  std::mt19937 random(7);
  auto below = [&random](int32_t bound) {
    return static_cast<int32_t>(random() % static_cast<uint32_t>(bound));
  };
  CompareJob job;
  FillJob(job, kComparing, kSize, 0, {});
  std::vector<TestBlock> blocks;
  for (int i = 0; i < 3000; ++i) {
    const int32_t start = below(kSize);
    const int32_t found = std::array{start, below(kSize), -1}[below(3)];
    blocks.push_back({below(5), start, below(kSize / 40), found});
  }
  // Runs of neighbouring ranges of one kind, as a halved range leaves them.
  for (int32_t start = 20000; start < 40000; start += 512)
    blocks.push_back({kSettled, start, 512, start + 3000});
  for (const TestBlock& block : blocks) {
    AddRecord(job.blocks.get());
    SetRecordLong(job.blocks.get(), kBlockState, block.state);
    SetRecordLong(job.blocks.get(), kBlockStart, block.start);
    SetRecordLong(job.blocks.get(), kBlockLen, block.len);
    SetRecordLong(job.blocks.get(), kBlockFound, block.found);
  }

  QImage oneByOne(130, 16, QImage::Format_RGB32);
  oneByOne.fill(kBackground);
  {
    QPainter painter(&oneByOne);
    for (const TestBlock& block : blocks) {
      CompareJob single;
      FillJob(single, kComparing, kSize, 0, {block});
      PaintProgressCell(painter, kCell, single);
    }
  }
  EXPECT_EQ(Paint(job), oneByOne);
}

// Through the window: row n of the job list draws element n of CompareJobs,
// and drawing leaves the table's cursor where it was.
TEST(ProgressColumn, JobListDrawsEachRowsJobByIndex) {
  PeerState state;
  Table<CompareJob>& jobs = state.tables.CompareJobs;
  FillJob(*jobs.Append(), kIdle, 1000, 0, {{kSettled, 0, 1000, -1}});
  FillJob(*jobs.Append(), kIdle, 1000, 0, {{kSettled, 0, 1000, 0}});
  QtWindow window(state);
  window.AddRow(kJobList, "Compare: \"a\" And \"b\"");
  window.AddRow(kJobList, "Compare: \"c\" And \"d\"");
  jobs.Select(0);
  window.Repaint(kJobList);

  auto* list = static_cast<QTreeWidget*>(window.Control(kJobList));
  const QImage image = list->viewport()->grab().toImage();
  for (int row = 0; row < 2; ++row) {
    const QRect cell = list->visualRect(list->model()->index(row, 1));
    ASSERT_EQ(cell.width(), 425);
    const QColor expected = row == 0 ? kBrushRed : kBrushGreen;
    EXPECT_EQ(image.pixelColor(cell.left(), cell.center().y()), expected);
    EXPECT_EQ(image.pixelColor(cell.right(), cell.center().y()), expected);
  }
  EXPECT_EQ(jobs.Current(), jobs.At(0));
  EXPECT_EQ(window.RowText(kJobList, 1, 0), "Compare: \"c\" And \"d\"");
}

TEST(ProgressColumn, RowWithoutJobDrawsNothing) {
  PeerState state;
  QtWindow window(state);
  window.AddRow(kJobList, "Compare: \"a\"");
  window.Repaint(kJobList);
  auto* list = static_cast<QTreeWidget*>(window.Control(kJobList));
  const QImage image = list->viewport()->grab().toImage();
  const QRect cell = list->visualRect(list->model()->index(0, 1));
  EXPECT_EQ(image.pixelColor(cell.center()), list->palette().color(QPalette::Base));
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
