#pragma once

namespace dravo2 {
inline namespace plot {

// The world window of the plot: x from MinX (left edge) to MaxX, y from MinY (bottom) to MaxY.
struct WorldBounds {
    double MinX = 0;
    double MaxX = 1;
    double MinY = 0;
    double MaxY = 1;
};

} // namespace plot
} // namespace dravo2
