#include "plot/dial.h"

#include "plot/world_range.h"

#include <cmath>

namespace dravo2 {
inline namespace plot {
namespace {

// The rim point in direction (c, s) on a W x H image, (W/2 (1 + c), H/2 (1 - s)), worked in
// extended precision and cut toward zero.
std::int32_t RimX(double c, std::int32_t width) {
    return static_cast<std::int32_t>((1 + static_cast<long double>(c)) * width / 2);
}
std::int32_t RimY(double s, std::int32_t height) {
    return static_cast<std::int32_t>((1 - static_cast<long double>(s)) * height / 2);
}

} // namespace

Colour LayerColour(int layer) {
    switch (layer) {
    case 1:
        return Rgb(128, 0, 128);
    case 2:
        return Rgb(0, 0, 255);
    case 3:
        return Rgb(0, 128, 0);
    default:
        return Rgb(255, 255, 0);
    }
}

void ClearVectorScreen(Canvas& dial, const std::array<long double, 4>& alpha, double fieldAngle, double startF) {
    const std::int32_t w = dial.Width();
    const std::int32_t h = dial.Height();
    dial.Pen = PenStyle::Solid;
    dial.BrushColour = kSilver;
    dial.PenColour = kBlack;
    dial.Ellipse(0, 0, w, h);
    dial.Pen = PenStyle::Dotted;
    for (int layer = 1; layer <= 4; ++layer) {
        const double c = static_cast<double>(std::cos(alpha[static_cast<std::size_t>(layer - 1)]));
        const double s = static_cast<double>(std::sin(alpha[static_cast<std::size_t>(layer - 1)]));
        dial.PenColour = LayerColour(layer);
        dial.MoveTo(RimX(-c, w), RimY(-s, h));
        dial.LineTo(RimX(c, w), RimY(s, h));
    }
    dial.Pen = PenStyle::Solid;
    dial.PenColour = kBlack;
    const std::int32_t g = Sign(startF);
    const double fx = static_cast<double>(g * std::cos(static_cast<long double>(fieldAngle)));
    const double fy = static_cast<double>(g * std::sin(static_cast<long double>(fieldAngle)));
    dial.MoveTo(w / 2, h / 2);
    dial.LineTo(RimX(fx, w), RimY(fy, h));
}

void ReplotVectorScreen(Canvas& dial, const std::array<long double, 4>& alpha, double fieldAngle, double startF,
                        const std::array<long double, 4>& theta) {
    ClearVectorScreen(dial, alpha, fieldAngle, startF);
    dial.Pen = PenStyle::Solid;
    const std::int32_t w = dial.Width();
    const std::int32_t h = dial.Height();
    for (int layer = 1; layer <= 4; ++layer) {
        const double c = static_cast<double>(std::cos(theta[static_cast<std::size_t>(layer - 1)]));
        const double s = static_cast<double>(std::sin(theta[static_cast<std::size_t>(layer - 1)]));
        dial.PenColour = LayerColour(layer);
        dial.MoveTo(w / 2, h / 2);
        dial.LineTo(RimX(c, w), RimY(s, h));
    }
    dial.PenColour = kBlack;
}

} // namespace plot
} // namespace dravo2
