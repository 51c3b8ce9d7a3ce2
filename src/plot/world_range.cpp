#include "plot/world_range.h"

#include "data/floating_point.h"

#include <cmath>

namespace dravo2 {
inline namespace plot {
namespace {

constexpr double kSaturation = 2147483647.0;

double Quotient(double value, double minimum, double scale) {
    const double q = static_cast<double>((static_cast<Real>(value) - minimum) / scale);
    CheckFloatingPoint(q);
    return q;
}

void AutoRange(double& minimum, double& maximum, const double* values, std::int32_t count) {
    if (count <= 0) {
        return;
    }
    minimum = 0;
    maximum = 0;
    for (std::int32_t r = 0; r < count; ++r) {
        const double v = values[r];
        if (v < minimum) {
            minimum = v;
        }
        if (v > maximum) {
            maximum = v;
        }
    }
    minimum = StoreDouble(minimum - std::fabs(static_cast<Real>(minimum) * 0.1L));
    maximum = StoreDouble(maximum + std::fabs(static_cast<Real>(maximum) * 0.1L));
}

} // namespace

std::int32_t WorldRange::WorldToPixelX(double x) const {
    const double q = Quotient(x, Bounds.MinX, ScaleX);
    if (q <= -kSaturation) {
        return -2147483647;
    }
    if (q >= kSaturation) {
        return 2147483647;
    }
    return static_cast<std::int32_t>(std::nearbyint(q));
}

std::int32_t WorldRange::WorldToPixelY(double y) const {
    const double q = Quotient(y, Bounds.MinY, ScaleY);
    if (q <= -kSaturation) {
        return 2147483647;
    }
    if (q >= kSaturation) {
        return -2147483647;
    }
    const std::int64_t row = static_cast<std::int64_t>(PlotHeight) - static_cast<std::int64_t>(std::nearbyint(q));
    // Within PlotHeight of the lower saturation the difference would leave the 32-bit range.
    return static_cast<std::int32_t>(row > 2147483647 ? 2147483647 : row);
}

void WorldRange::FixScale(std::int32_t width, std::int32_t height) {
    PlotWidth = width;
    PlotHeight = height;
    ScaleX = StoreDouble((static_cast<Real>(Bounds.MaxX) - Bounds.MinX) / PlotWidth);
    ScaleY = StoreDouble((static_cast<Real>(Bounds.MaxY) - Bounds.MinY) / PlotHeight);
}

void AutoRangeX(WorldBounds& bounds, const double* values, std::int32_t count) {
    AutoRange(bounds.MinX, bounds.MaxX, values, count);
}

void AutoRangeY(WorldBounds& bounds, const double* values, std::int32_t count) {
    AutoRange(bounds.MinY, bounds.MaxY, values, count);
}

std::int32_t Sign(double x) {
    return x > 0 ? 1 : (x < 0 ? -1 : 0);
}

} // namespace plot
} // namespace dravo2
