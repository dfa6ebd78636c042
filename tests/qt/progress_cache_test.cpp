#include "app/qt/progress_cache.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTreeWidget>
#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/qt/brushes.h"
#include "app/qt/progress_cell.h"
#include "app/qt/qt_window.h"
#include "compare/block_list.h"
#include "compare/engine.h"
#include "compare/sync.h"
#include "protocol/peer_state.h"
#include "qt_test_app.h"
#include "support/engine_pair.h"
#include "support/job_bytes.h"
#include "support/temp_dir.h"

namespace kelpie {
namespace {

const QColor kBackground(Qt::white);

// A little larger than the cell, so that the column painted one past its
// right edge is compared too.
QImage Blank(const QRect& cell) {
  QImage image(cell.left() + std::max(cell.width(), 0) + 8, cell.top() + cell.height() + 4,
               QImage::Format_RGB32);
  image.fill(kBackground);
  return image;
}

QImage PaintPlain(const QRect& cell, const CompareJob& job) {
  QImage image = Blank(cell);
  QPainter painter(&image);
  PaintProgressCell(painter, cell, job);
  return image;
}

QImage PaintCached(ProgressCache& cache, const QRect& cell, const CompareJob& job) {
  QImage image = Blank(cell);
  QPainter painter(&image);
  cache.Paint(painter, cell, job);
  return image;
}

std::string Describe(const QImage& image, int x, int y) {
  return image.pixelColor(x, y).name().toStdString();
}

::testing::AssertionResult SameInside(const QImage& plain, const QImage& cached,
                                      const QRect& area) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (plain.pixel(x, y) != cached.pixel(x, y)) {
        return ::testing::AssertionFailure()
               << "at " << x << "," << y << " every record paints " << Describe(plain, x, y)
               << ", the cache " << Describe(cached, x, y);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Paints the job through the cache and record by record; the images must be
// equal pixel for pixel.
::testing::AssertionResult PaintsAlike(ProgressCache& cache, const QRect& cell,
                                       const CompareJob& job) {
  const QImage plain = PaintPlain(cell, job);
  const QImage cached = PaintCached(cache, cell, job);
  return SameInside(plain, cached, plain.rect());
}

// A job whose block list is cut and answered by the engine's own block list
// code, in the engine's order: the active range is sent, then answered.
void CutJob(CompareJob& job, int32_t size, int32_t maxBlock, uint64_t serial) {
  job.serial = serial;
  job.state = kComparing;
  job.localFile.size = size;
  SetJobData(job, std::vector<uint8_t>(static_cast<size_t>(size), 0));
  ASSERT_TRUE(CutBlocks(job, maxBlock));
}

bool IsOpen(const CompareJob& job) {
  return job.activeBlock != nullptr;
}

void SendActive(CompareJob& job) {
  ChangeCurrentRecord(job.activeBlock);
  SetRecordLong(job.blocks.get(), kBlockState, kSent);
}

// Answers the sent range with its own offset (one time in six), another
// offset or -1, so that most ranges are halved down to the smallest pieces.
void AnswerActive(CompareJob& job, std::mt19937& random, int32_t minBlock, int32_t maxBlock) {
  const int32_t start = BlockValue(job, job.activeBlock, kBlockStart);
  const auto elsewhere = static_cast<int32_t>(random() % (job.data.size() + 100));
  const int32_t found = std::array{start, elsewhere, elsewhere, -1, -1, -1}[random() % 6];
  AnswerActiveBlock(job, found, minBlock, maxBlock);
}

struct ListShape {
  int32_t size;
  int32_t maxBlock;
  int32_t minBlock;
};

class EngineBuiltLists : public ::testing::TestWithParam<std::tuple<ListShape, int>> {};

TEST_P(EngineBuiltLists, PaintAsEveryRecordWouldAfterEachStep) {
  const auto& [shape, width] = GetParam();
  const QRect cell(10, 2, width, 10);
  std::mt19937 random(static_cast<uint32_t>(shape.size * 31 + width));
  CompareJob job;
  CutJob(job, shape.size, shape.maxBlock, 1);
  ProgressCache cache;
  ASSERT_TRUE(PaintsAlike(cache, cell, job));
  for (int step = 0; IsOpen(job); ++step) {
    SendActive(job);
    ASSERT_TRUE(PaintsAlike(cache, cell, job)) << "sent, step " << step;
    AnswerActive(job, random, shape.minBlock, shape.maxBlock);
    ASSERT_TRUE(PaintsAlike(cache, cell, job)) << "answered, step " << step;
  }
  // Synchronisation draws its strip over the finished map.
  job.state = kSynchronising;
  job.position = shape.size / 2 + 1;
  EXPECT_TRUE(PaintsAlike(cache, cell, job));
  EXPECT_EQ(cache.Size(), 1);
}

const ListShape kShapes[] = {
    {0, 4096, 64},       // one range of length 0
    {1, 4096, 64},       // one byte
    {3, 1, 2},           // three one-byte ranges
    {1000, 256, 8},      // far more records than pixels in narrow cells
    {20000, 4096, 64},   //
    {65537, 8192, 128},  // initial ranges that do not divide the file
};

INSTANTIATE_TEST_SUITE_P(SizesAndWidths, EngineBuiltLists,
                         ::testing::Combine(::testing::ValuesIn(kShapes),
                                            ::testing::Values(0, 1, 7, 100, 425)),
                         [](const auto& info) {
                           const ListShape& shape = std::get<0>(info.param);
                           return "Size" + std::to_string(shape.size) + "Width" +
                                  std::to_string(std::get<1>(info.param));
                         });

// The whole road through the real engine: a responder answers from its own
// copy, and the cell is painted after every main loop pass, as the window
// repaints after every answer, through comparison and synchronisation.
TEST(ProgressCacheEngine, RealComparisonPaintsAsEveryRecordWouldAfterEachPass) {
  test::TempDir dir;
  const std::vector<uint8_t> theirs = test::RandomBytes(100000, 1);
  std::vector<uint8_t> ours = theirs;
  std::copy(theirs.begin() + 70000, theirs.begin() + 80000, ours.begin() + 10000);  // moved
  const std::vector<uint8_t> noise = test::RandomBytes(10000, 2);
  std::copy(noise.begin(), noise.end(), ours.begin() + 40000);  // missing
  test::EnginePair pair;
  const FileEntry& offered = pair.server.OfferFile(dir.Write("theirs", theirs));
  const FileEntry& remote = pair.Announce(pair.server, offered);
  const FileEntry& local = pair.client.OfferFile(dir.Write("ours", ours));
  pair.client.tables.MaxBlockSize = 16384;
  pair.client.tables.MinBlockSize = 256;
  CompareJob& job = *StartComparison(pair.client.tables, pair.client.host, local, remote);
  ASSERT_NE(job.serial, 0u);

  const QRect cell(5, 0, 425, 12);
  ProgressCache cache;
  for (int pass = 0; job.state != kIdle; ++pass) {
    ASSERT_LT(pass, 100000);
    pair.Pass();
    ASSERT_TRUE(PaintsAlike(cache, cell, job)) << "comparing, pass " << pass;
  }
  const QImage map = PaintPlain(cell, job);
  for (const QColor& colour : {kBrushGreen, kBrushBlue, kBrushRed}) {
    bool shown = false;
    for (int x = cell.left(); x <= cell.right(); ++x)
      shown |= map.pixelColor(x, 6) == colour;
    EXPECT_TRUE(shown) << colour.name().toStdString();
  }

  pair.client.host.savePath = (dir.path() / "rebuilt").string();
  StartSynchronisation(job);
  for (int pass = 0; job.state != kIdle; ++pass) {
    ASSERT_LT(pass, 100000);
    pair.Pass();
    ASSERT_TRUE(PaintsAlike(cache, cell, job)) << "synchronising, pass " << pass;
  }
  EXPECT_EQ(test::ReadFileBytes(pair.client.host.savePath), theirs);
}

// The cell may move, shrink and grow between paints (and the file size is
// part of the picture too); each must look as if painted record by record.
TEST(ProgressCache, CellAndSizeChangesMidwayPaintAsEveryRecordWould) {
  const std::array cells{QRect(10, 2, 100, 10), QRect(10, 2, 37, 10), QRect(40, 5, 37, 6),
                         QRect(10, 2, 100, 10), QRect(0, 0, 425, 3)};
  std::mt19937 random(11);
  CompareJob job;
  CutJob(job, 20000, 4096, 1);
  ProgressCache cache;
  for (int step = 0; IsOpen(job); ++step) {
    if (step == 300) job.localFile.size = 30000;
    if (step == 400) job.localFile.size = 20000;
    const QRect& cell = cells[static_cast<size_t>(step / 50) % cells.size()];
    SendActive(job);
    ASSERT_TRUE(PaintsAlike(cache, cell, job)) << "step " << step;
    AnswerActive(job, random, 64, 4096);
  }
}

// Lists that keep none of the engine's rules (any state, ranges outside the
// file) still paint alike as long as the records already there stay as
// they are and new ones are appended.
TEST(ProgressCache, ArbitraryGrowingListsPaintAsEveryRecordWould) {
  constexpr int32_t kSize = 5000;
  std::mt19937 random(5);
  auto any = [&random](int32_t from, int32_t to) {
    return from + static_cast<int32_t>(random() % static_cast<uint32_t>(to - from));
  };
  const std::array cells{QRect(10, 2, 100, 10), QRect(0, 0, 3, 4), QRect(3, 1, 50, 0),
                         QRect(10, 2, 0, 10)};
  for (int round = 0; round < 20; ++round) {
    CompareJob job;
    job.serial = 1;
    job.state = kIdle;
    job.localFile.size = round == 0 ? 0 : kSize;
    job.blocks = NewRecordList(kBlockFormat);
    ProgressCache cache;
    for (int grow = 0; grow < 10; ++grow) {
      LastRecord(job.blocks.get());
      for (int n = any(0, 40); n > 0; --n) {
        AddRecord(job.blocks.get());
        // Answered records are common, so that long folded fronts occur.
        const int32_t state = any(0, 4) == 0 ? any(-1, 7) : std::array{kSplit, kSettled}[any(0, 2)];
        const int32_t start = any(-100, kSize + 100);
        SetRecordLong(job.blocks.get(), kBlockState, state);
        SetRecordLong(job.blocks.get(), kBlockStart, start);
        SetRecordLong(job.blocks.get(), kBlockLen, any(-10, kSize / 4));
        SetRecordLong(job.blocks.get(), kBlockFound,
                      std::array{start, any(0, kSize), -1}[any(0, 3)]);
      }
      const QRect& cell = cells[static_cast<size_t>(round) % cells.size()];
      ASSERT_TRUE(PaintsAlike(cache, cell, job)) << "round " << round << ", growth " << grow;
    }
  }
}

// Only answered records are final: a Queued record met before any active
// one (no engine list has that) must still be painted afresh once answered.
TEST(ProgressCache, OpenRecordsAreNotKept) {
  CompareJob job;
  test::FillJob(job, kIdle, 1000, 0,
                {{kSettled, 0, 400, -1}, {kQueued, 400, 300, 0}, {kQueued, 700, 300, 0}});
  job.serial = 1;
  const QRect cell(10, 2, 100, 10);
  ProgressCache cache;
  ASSERT_TRUE(PaintsAlike(cache, cell, job));
  FirstRecord(job.blocks.get());
  ASSERT_NE(NextRecord(job.blocks.get()), nullptr);
  SetRecordLong(job.blocks.get(), kBlockState, kSettled);
  SetRecordLong(job.blocks.get(), kBlockFound, 400);
  EXPECT_TRUE(PaintsAlike(cache, cell, job));
}

// Advances a job by some answers, painting after each.
void Advance(ProgressCache& cache, const QRect& cell, CompareJob& job, std::mt19937& random,
             int answers) {
  for (int n = 0; n < answers && IsOpen(job); ++n) {
    SendActive(job);
    AnswerActive(job, random, 64, 4096);
    ASSERT_TRUE(PaintsAlike(cache, cell, job));
  }
}

const QRect kCell(10, 2, 100, 10);

// A client that leaves takes its jobs, and their block lists, with it; the
// jobs painted afterwards must not meet anything kept of the old ones.
TEST(ProgressCache, JobsLeavingTheTableAreForgotten) {
  Table<CompareJob> jobs;
  ProgressCache cache;
  std::mt19937 random(3);
  for (uint64_t serial = 1; serial <= 3; ++serial)
    CutJob(*jobs.Append(), 20000, 4096, serial);
  for (CompareJob& job : jobs)
    Advance(cache, kCell, job, random, 60);
  cache.Prune(jobs);
  EXPECT_EQ(cache.Size(), 3);

  jobs.Select(1);
  jobs.Delete();
  cache.Prune(jobs);
  EXPECT_EQ(cache.Size(), 2);

  CutJob(*jobs.Append(), 20000, 4096, 4);
  for (CompareJob& job : jobs)
    Advance(cache, kCell, job, random, 60);
  cache.Prune(jobs);
  EXPECT_EQ(cache.Size(), 3);
  jobs.Clear();
  cache.Prune(jobs);
  EXPECT_EQ(cache.Size(), 0);
}

TEST(ProgressCache, JobsWithoutSerialAreNotKept) {
  std::mt19937 random(4);
  CompareJob job;
  CutJob(job, 20000, 4096, 0);
  ProgressCache cache;
  Advance(cache, kCell, job, random, 100);
  EXPECT_EQ(cache.Size(), 0);
}

// The engine never removes records or replaces a list, but the cache must
// not follow a record that may have been released when it does.
TEST(ProgressCache, ShrunkenOrReplacedListsStartOver) {
  std::mt19937 random(8);
  CompareJob job;
  CutJob(job, 20000, 4096, 1);
  ProgressCache cache;
  Advance(cache, kCell, job, random, 200);

  // Remove the tail back to well before the frontier.
  const int32_t keep = CountRecords(job.blocks.get()) / 3;
  while (CountRecords(job.blocks.get()) > keep) {
    LastRecord(job.blocks.get());
    DeleteRecord(job.blocks.get());
  }
  job.activeBlock = nullptr;
  EXPECT_TRUE(PaintsAlike(cache, kCell, job));

  // A new list for the same job, while the old one still exists.
  RecordListPtr old = std::move(job.blocks);
  CutJob(job, 20000, 4096, 1);
  EXPECT_TRUE(PaintsAlike(cache, kCell, job));
  Advance(cache, kCell, job, random, 50);

  // A record put in front of the list.
  ResetRecords(job.blocks.get());
  InsertRecord(job.blocks.get());
  SetRecordLong(job.blocks.get(), kBlockState, kSettled);
  SetRecordLong(job.blocks.get(), kBlockLen, 20000);
  SetRecordLong(job.blocks.get(), kBlockFound, -1);
  EXPECT_TRUE(PaintsAlike(cache, kCell, job));
  Advance(cache, kCell, job, random, 50);
}

// Should an answered record change after all, only its own columns may show
// a stale colour.
TEST(ProgressCache, ChangedAnsweredRecordOnlyAffectsItsColumns) {
  std::mt19937 random(9);
  CompareJob job;
  CutJob(job, 20000, 4096, 1);
  ProgressCache cache;
  Advance(cache, kCell, job, random, 200);
  uint8_t* settled = FirstRecord(job.blocks.get());
  while (GetRecordLong(job.blocks.get(), kBlockState) != kSettled)
    settled = NextRecord(job.blocks.get());
  const BlockSpan before = SpanOfBlock(kCell.width(), 20000, job.blocks.get(), settled);
  SetRecordLong(job.blocks.get(), kBlockFound, 12345);
  const BlockSpan after = SpanOfBlock(kCell.width(), 20000, job.blocks.get(), settled);

  const QImage plain = PaintPlain(kCell, job);
  const QImage cached = PaintCached(cache, kCell, job);
  const int from = kCell.left() + std::min(before.x0, after.x0);
  const int to = kCell.left() + std::max(before.x1, after.x1);
  EXPECT_TRUE(SameInside(plain, cached, QRect(0, 0, from, plain.height())));
  EXPECT_TRUE(SameInside(plain, cached, QRect(to, 0, plain.width() - to, plain.height())));
}

// Through the window: the delegate paints every row through its cache, and
// a job leaving the table (with its row) leaves nothing behind that the next
// paint would use.
TEST(ProgressColumnCache, RowsPaintAsEveryRecordWouldAfterAJobLeaves) {
  PeerState state;
  Table<CompareJob>& jobs = state.tables.CompareJobs;
  std::mt19937 random(12);
  for (uint64_t serial = 1; serial <= 3; ++serial)
    CutJob(*jobs.Append(), 20000, 4096, serial);
  QtWindow window(state);
  auto* list = static_cast<QTreeWidget*>(window.Control(kJobList));
  auto rebuild = [&] {
    window.ClearList(kJobList);
    for (int row = 0; row < jobs.Count(); ++row)
      window.AddRow(kJobList, "Compare");
  };
  auto expectRowsAlike = [&](int round) {
    const QImage shown = list->viewport()->grab().toImage();
    for (int row = 0; row < jobs.Count(); ++row) {
      const QRect cell = list->visualRect(list->model()->index(row, 1));
      QImage plain = shown.copy();
      {
        QPainter painter(&plain);
        painter.fillRect(cell, list->palette().base());
        PaintProgressCell(painter, cell, *jobs.At(row));
      }
      EXPECT_TRUE(SameInside(plain, shown, cell)) << "round " << round << ", row " << row;
    }
  };
  rebuild();
  for (int round = 0; round < 40; ++round) {
    if (round == 20) {
      jobs.Select(0);
      jobs.Delete();
      CutJob(*jobs.Append(), 20000, 4096, 4);
      rebuild();
    }
    for (CompareJob& job : jobs) {
      for (int n = 0; n < 5 && IsOpen(job); ++n) {
        SendActive(job);
        AnswerActive(job, random, 64, 4096);
      }
    }
    window.Repaint(kJobList);
    expectRowsAlike(round);
  }
}

}  // namespace
}  // namespace kelpie

int main(int argc, char** argv) {
  return kelpie::test::RunQtTests(argc, argv);
}
