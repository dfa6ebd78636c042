#pragma once

#include <QStyledItemDelegate>

namespace kelpie {

struct PeerState;

// Draws the job list: column 0 as plain text, column 1 ("Progress") as the
// block map of the job at the row's index in CompareJobs.
class ProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  ProgressDelegate(const PeerState& state, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  const PeerState& state_;
};

}  // namespace kelpie
