#include "app/qt/frame_pacer.h"

namespace kelpie {

FramePacer::FramePacer(std::function<void()> paint) : paint_(std::move(paint)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &FramePacer::PaintNow);
}

void FramePacer::Request() {
  if (timer_.isActive()) return;
  const qint64 elapsed = sincePaint_.isValid() ? sincePaint_.elapsed() : kFrameMs;
  if (elapsed >= kFrameMs) {
    PaintNow();
  } else {
    timer_.start(static_cast<int>(kFrameMs - elapsed));
  }
}

void FramePacer::PaintNow() {
  timer_.stop();
  sincePaint_.start();
  paint_();
}

}  // namespace kelpie
