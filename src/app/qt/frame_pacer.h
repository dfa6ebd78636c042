#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace kelpie {

// Merges paint requests to at most one paint per frame. A request paints at
// once when the last paint is a frame old, else the one paint at the end of
// the frame takes it: the state of the last request is always painted, at
// most one frame late, however fast requests come.
class FramePacer : public QObject {
 public:
  explicit FramePacer(std::function<void()> paint);

  void Request();

  // About one refresh of a 60 Hz screen.
  static constexpr int kFrameMs = 16;

 private:
  void PaintNow();

  std::function<void()> paint_;
  QTimer timer_;
  QElapsedTimer sincePaint_;
};

}  // namespace kelpie
