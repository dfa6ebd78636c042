#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <cstdlib>

#include "compare/entries.h"

namespace kelpie::test {

// Window tests need a QApplication; without a display they use the
// offscreen platform.
inline int RunQtTests(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

struct TestBlock {
  int32_t state;
  int32_t start;
  int32_t len;
  int32_t found;
};

// Sets up a job as the comparison layer would have left it.
inline void FillJob(CompareJob& job, int32_t state, int32_t size, int32_t position,
                    std::initializer_list<TestBlock> blocks, bool withBlockList = true) {
  job.state = state;
  job.localFile.size = size;
  job.position = position;
  if (!withBlockList) return;
  job.blocks = NewRecordList(kBlockFormat);
  for (const TestBlock& block : blocks) {
    AddRecord(job.blocks.get());
    SetRecordLong(job.blocks.get(), kBlockState, block.state);
    SetRecordLong(job.blocks.get(), kBlockStart, block.start);
    SetRecordLong(job.blocks.get(), kBlockLen, block.len);
    SetRecordLong(job.blocks.get(), kBlockFound, block.found);
  }
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

}  // namespace kelpie::test
