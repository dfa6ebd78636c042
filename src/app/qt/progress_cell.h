#pragma once

#include <QPainter>
#include <QRect>

namespace kelpie {

struct CompareJob;

// Paints the Progress cell of one job into cell (left/top inclusive,
// right/bottom exclusive). Only reads the job and its block list.
void PaintProgressCell(QPainter& painter, const QRect& cell, const CompareJob& job);

}  // namespace kelpie
