#pragma once

#include <QStyledItemDelegate>

#include "app/qt/progress_cache.h"

class QTreeWidget;

namespace kelpie {

// Paints the Progress cells of the job list's rows before returning. Only
// they change between rebuilds of the list, and they change with every
// answer of a comparison, so the rest of the list is left alone.
void RepaintProgressColumn(QTreeWidget& jobs);

struct PeerState;

// Draws the job list: column 0 as plain text, column 1 ("Progress") as the
// block map of the job at the row's index in CompareJobs. The list is
// repainted after every answer, so the maps are drawn through a cache that
// keeps what each job's answered ranges painted.
class ProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  ProgressDelegate(const PeerState& state, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  const PeerState& state_;
  // Painting is const to Qt, but it is what fills the cache.
  mutable ProgressCache cache_;
};

}  // namespace kelpie
