#pragma once

#include <QColor>

namespace kelpie {

// The six solid colours of the role labels and the Progress column.
inline constexpr QColor kBrushGreen{0, 239, 0};
inline constexpr QColor kBrushDarkGreen{0, 175, 0};
inline constexpr QColor kBrushRed{239, 0, 0};
inline constexpr QColor kBrushYellow{239, 239, 0};
inline constexpr QColor kBrushGrey{112, 112, 112};
inline constexpr QColor kBrushBlue{0, 0, 239};

}  // namespace kelpie
