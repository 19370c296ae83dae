#pragma once

// Where the "&Горизонтально" and "&Вертикально" commands put the expert windows: one row per
// window across the whole width, or one column per window down the whole height. The MDI area
// of the toolkit only tiles in a grid, so the arrangement is computed here.

#include <vector>

namespace vorlen {

struct TRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const TRect&) const = default;
};

enum class TTileMode { Horizontal, Vertical };

// `count` windows in an area of width × height. The last window takes what rounding leaves, so
// the windows cover the area exactly; nothing is made smaller than one pixel.
std::vector<TRect> TileRects(int count, int width, int height, TTileMode mode);

} // namespace vorlen
