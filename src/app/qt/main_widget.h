#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "app/window.h"

namespace kelpie {

struct PeerState;

// The top-level window: a fixed 640 x 480 client area holding the fifteen
// controls at their places. Trying to close it only reports the wish; the
// program decides when to end.
class MainWidget : public QWidget {
  Q_OBJECT

 public:
  explicit MainWidget(const PeerState& state);

  // Null for an id that names no control.
  QWidget* Control(int id) const;
  void SetCloseHandler(std::function<void()> handler);
  // Shows the window with its frame centred on the primary screen.
  void ShowCentred();

  static constexpr int kClientWidth = 640;
  static constexpr int kClientHeight = 480;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls(const PeerState& state);
  void BuildRoleColumn(const PeerState& state, int labelId, int listId, int refreshId, int x);
  void CentreOnScreen();

  std::array<QWidget*, kControlCount> controls_{};
  std::function<void()> onClose_;
};

}  // namespace kelpie
