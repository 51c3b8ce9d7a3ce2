#include "plot/canvas.h"

#include <algorithm>
#include <cstdlib>

namespace dravo2 {
inline namespace plot {
namespace {

__extension__ using Wide = __int128;

// Rounds numerator / denominator (denominator > 0) to the nearest integer, halves upwards.
std::int64_t RoundedQuotient(Wide numerator, Wide denominator) {
    Wide twice = 2 * numerator + denominator;
    Wide q = twice / (2 * denominator);
    if (twice % (2 * denominator) < 0) {
        --q;
    }
    return static_cast<std::int64_t>(q);
}

} // namespace

Canvas::Canvas(std::int32_t width, std::int32_t height)
    : W(width), H(height), Buffer(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kWhite) {}

void Canvas::FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    const std::int32_t x0 = std::max(left, 0);
    const std::int32_t x1 = std::min(right, W);
    const std::int32_t y0 = std::max(top, 0);
    const std::int32_t y1 = std::min(bottom, H);
    for (std::int32_t y = y0; y < y1; ++y) {
        for (std::int32_t x = x0; x < x1; ++x) {
            Buffer[Index(x, y)] = BrushColour;
        }
    }
}

void Canvas::MoveTo(std::int32_t x, std::int32_t y) {
    X = x;
    Y = y;
}

void Canvas::SetPixel(std::int32_t x, std::int32_t y, Colour colour) {
    if (Inside(x, y)) {
        Buffer[Index(x, y)] = colour;
    }
}

void Canvas::LineTo(std::int32_t x, std::int32_t y) {
    // Pixel k (0 <= k < n, n the larger of |dx| and |dy|) steps once along the major axis and
    // rounds the minor one: (x0 + k dx / n, y0 + k dy / n). Only the k whose major coordinate
    // falls inside the image are visited, so far-away end points cost nothing.
    const std::int64_t x0 = X;
    const std::int64_t y0 = Y;
    const std::int64_t dx = static_cast<std::int64_t>(x) - x0;
    const std::int64_t dy = static_cast<std::int64_t>(y) - y0;
    const std::int64_t n = std::max(std::llabs(dx), std::llabs(dy));
    X = x;
    Y = y;
    if (n == 0) {
        return;
    }
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const std::int64_t majorStart = xMajor ? x0 : y0;
    const std::int64_t majorStep = (xMajor ? dx : dy) > 0 ? 1 : -1;
    const std::int64_t limit = xMajor ? W : H;
    // k range with 0 <= majorStart + k * majorStep < limit
    std::int64_t kFirst = 0;
    std::int64_t kLast = n - 1;
    if (majorStep > 0) {
        kFirst = std::max(kFirst, -majorStart);
        kLast = std::min(kLast, limit - 1 - majorStart);
    } else {
        kFirst = std::max(kFirst, majorStart - (limit - 1));
        kLast = std::min(kLast, majorStart);
    }
    for (std::int64_t k = kFirst; k <= kLast; ++k) {
        const std::int64_t minor = RoundedQuotient(static_cast<Wide>(k) * (xMajor ? dy : dx), n);
        const std::int64_t px = xMajor ? x0 + k * majorStep : x0 + minor;
        const std::int64_t py = xMajor ? y0 + minor : y0 + k * majorStep;
        if (!Inside(px, py)) {
            continue;
        }
        const bool gap = Pen == PenStyle::Dotted && (k / 3) % 2 == 1;
        Buffer[Index(static_cast<std::int32_t>(px), static_cast<std::int32_t>(py))] = gap ? BrushColour : PenColour;
    }
}

void Canvas::Ellipse(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    const double cx = (static_cast<double>(left) + right) / 2;
    const double cy = (static_cast<double>(top) + bottom) / 2;
    const double rx = (static_cast<double>(right) - left) / 2;
    const double ry = (static_cast<double>(bottom) - top) / 2;
    if (rx <= 0 || ry <= 0) {
        return;
    }
    auto inside = [&](std::int64_t x, std::int64_t y) {
        if (x < left || x >= right || y < top || y >= bottom) {
            return false;
        }
        const double u = (static_cast<double>(x) + 0.5 - cx) / rx;
        const double v = (static_cast<double>(y) + 0.5 - cy) / ry;
        return u * u + v * v <= 1.0;
    };
    const std::int32_t y0 = std::max(top, 0);
    const std::int32_t y1 = std::min(bottom, H);
    const std::int32_t x0 = std::max(left, 0);
    const std::int32_t x1 = std::min(right, W);
    for (std::int32_t y = y0; y < y1; ++y) {
        for (std::int32_t x = x0; x < x1; ++x) {
            if (!inside(x, y)) {
                continue;
            }
            const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
            Buffer[Index(x, y)] = edge ? PenColour : BrushColour;
        }
    }
}

} // namespace plot
} // namespace dravo2
