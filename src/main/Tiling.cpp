#include "main/Tiling.h"

#include <algorithm>

namespace vorlen {

std::vector<TRect> TileRects(int count, int width, int height, TTileMode mode) {
    std::vector<TRect> rects;
    if (count <= 0)
        return rects;
    width = std::max(width, 1);
    height = std::max(height, 1);
    const int extent = mode == TTileMode::Horizontal ? height : width;
    const int step = std::max(extent / count, 1);
    rects.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int start = std::min(i * step, extent - 1);
        const int size = i + 1 == count ? std::max(extent - start, 1) : step;
        if (mode == TTileMode::Horizontal)
            rects.push_back({0, start, width, size});
        else
            rects.push_back({start, 0, size, height});
    }
    return rects;
}

} // namespace vorlen
