#pragma once

#include "plot/world_bounds.h"

#include <cstdint>

namespace dravo2 {
inline namespace plot {

// The plot's world window and its pixel scale, fixed by the last ClearScreen.
//
// Columns: MinX maps to column 0 and MaxX to column PlotWidth, so
//   column = round((x - MinX) / ScaleX),            ScaleX = (MaxX - MinX) / PlotWidth.
// Rows grow downwards: MaxY maps to row 0 and MinY to row PlotHeight, so
//   row = PlotHeight - round((y - MinY) / ScaleY),  ScaleY = (MaxY - MinY) / PlotHeight.
// The quotient is rounded to double, saturated at +-2147483647 (a quotient beyond that saturates
// the other way on y) and otherwise rounded to the nearest integer with ties to even.
struct WorldRange {
    WorldBounds Bounds;
    double ScaleX = 0;
    double ScaleY = 0;
    std::int32_t PlotWidth = 0;
    std::int32_t PlotHeight = 0;

    // Throws "Invalid floating point operation" (0 / 0) or "Floating point division by zero"
    // on a degenerate range.
    std::int32_t WorldToPixelX(double x) const;
    std::int32_t WorldToPixelY(double y) const;

    // Sets the scale for a plot of the given size; "Floating point overflow" where the span
    // exceeds the double range.
    void FixScale(std::int32_t width, std::int32_t height);
};

// Sets MinX, MaxX (or MinY, MaxY) to the extremes of values[0..count-1] and of 0, each widened by
// a tenth of its own magnitude. A count of 0 or less changes nothing.
void AutoRangeX(WorldBounds& bounds, const double* values, std::int32_t count);
void AutoRangeY(WorldBounds& bounds, const double* values, std::int32_t count);

// 1 for x > 0, -1 for x < 0, 0 otherwise (also for -0).
std::int32_t Sign(double x);

} // namespace plot
} // namespace dravo2
