#include "app/qt/progress_delegate.h"

#include <QHeaderView>
#include <QPainter>
#include <QTreeWidget>

#include "protocol/peer_state.h"

namespace kelpie {

inline constexpr int kProgressColumn = 1;

void RepaintProgressColumn(QTreeWidget& jobs) {
  const int rows = jobs.topLevelItemCount();
  if (rows == 0) return;
  const QRect last = jobs.visualRect(jobs.model()->index(rows - 1, kProgressColumn));
  QHeaderView* header = jobs.header();
  const QRect column(header->sectionViewportPosition(kProgressColumn), 0,
                     header->sectionSize(kProgressColumn), last.bottom() + 1);
  jobs.viewport()->repaint(column.intersected(jobs.viewport()->rect()));
}

ProgressDelegate::ProgressDelegate(const PeerState& state, QObject* parent)
    : QStyledItemDelegate(parent), state_(state) {}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  if (index.column() != kProgressColumn) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  // The cell shows no selection: the map is drawn on the list's own
  // background, whatever the style painted under the row.
  painter->fillRect(option.rect, option.palette.base());
  // By index, not through the table's cursor: a repaint must leave any walk
  // over CompareJobs where it was.
  const Table<CompareJob>& jobs = state_.tables.CompareJobs;
  // Jobs leave the table between paints (a client's go with it); forget
  // them, so that nothing kept points into their released lists.
  cache_.Prune(jobs);
  if (const CompareJob* job = jobs.At(index.row())) cache_.Paint(*painter, option.rect, *job);
  painter->restore();
}

}  // namespace kelpie
