#include "app/qt/progress_delegate.h"

#include <QPainter>

#include "app/qt/progress_cell.h"
#include "protocol/peer_state.h"

namespace kelpie {

inline constexpr int kProgressColumn = 1;

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
  if (const CompareJob* job = state_.tables.CompareJobs.At(index.row())) {
    PaintProgressCell(*painter, option.rect, *job);
  }
  painter->restore();
}

}  // namespace kelpie
