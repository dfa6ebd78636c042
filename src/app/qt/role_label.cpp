#include "app/qt/role_label.h"

#include <QPainter>

#include "app/qt/brushes.h"
#include "protocol/peer_state.h"

namespace kelpie {

QColor ServerLabelColour(const PeerState& state) {
  if (state.ServerRunning == 1) return kBrushGreen;
  if (state.ServerConnection != 0) return kBrushYellow;
  return kBrushRed;
}

QColor ClientLabelColour(const PeerState& state) {
  if (state.ServerConnection != 0) return kBrushGreen;
  if (!state.tables.Clients.Empty()) return kBrushYellow;
  return kBrushRed;
}

RoleLabel::RoleLabel(const QString& text, std::function<QColor()> background, QWidget* parent)
    : QLabel(text, parent), background_(std::move(background)) {
  setAlignment(Qt::AlignCenter);
}

void RoleLabel::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(rect(), background_());
  }
  QLabel::paintEvent(event);
}

}  // namespace kelpie
