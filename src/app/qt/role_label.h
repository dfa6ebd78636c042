#pragma once

#include <QColor>
#include <QLabel>
#include <functional>

namespace kelpie {

struct PeerState;

// Background of label 1: green while listening, yellow while only connected
// to a server, red otherwise.
QColor ServerLabelColour(const PeerState& state);
// Background of label 2: green while connected to a server, yellow while
// Clients holds entries, red otherwise.
QColor ClientLabelColour(const PeerState& state);

// A centred label whose background colour is asked for each time it paints,
// so it always shows the state of that moment.
class RoleLabel : public QLabel {
  Q_OBJECT

 public:
  RoleLabel(const QString& text, std::function<QColor()> background, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<QColor()> background_;
};

}  // namespace kelpie
