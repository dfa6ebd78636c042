#pragma once

#include <QPainter>
#include <QRect>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "app/qt/progress_cell.h"
#include "compare/entries.h"

namespace kelpie {

// Paints Progress cells pixel for pixel as PaintProgressCell does, but keeps,
// per job, the colour of every column as the answered front of its block
// list painted it, so that a repaint after each answer costs the few records
// still open instead of the whole list.
class ProgressCache {
 public:
  void Paint(QPainter& painter, const QRect& cell, const CompareJob& job);

  // Forgets every job that is not in jobs, so that nothing kept points into
  // a block list already released.
  void Prune(const Table<CompareJob>& jobs);

  // Jobs remembered.
  int32_t Size() const;

 private:
  // What the answered front of one job's list painted into a cell of one
  // width. The list, its first record and its record count tell whether the
  // frontier still belongs to the list the job holds now.
  struct Entry {
    int width = -1;
    int64_t size = 0;
    const RecordList* list = nullptr;
    const uint8_t* first = nullptr;
    int32_t count = 0;
    const uint8_t* frontier = nullptr;  // the last record folded in; null before the first
    std::vector<BlockColour> columns;   // from the cell's left edge: width + 1 columns
  };

  static const uint8_t* FoldAnswered(Entry& entry, int width, const CompareJob& job);

  std::unordered_map<uint64_t, Entry> entries_;  // by CompareJob::serial
  std::vector<uint64_t> live_;                   // Prune's scratch list
};

}  // namespace kelpie
