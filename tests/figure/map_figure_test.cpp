#include "figure/figure_export.h"
#include "plot/map_figure.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace dravo2 {
namespace {

bool Round(const AxisTicks& ticks) {
    return std::all_of(ticks.Values.begin(), ticks.Values.end(), [&ticks](double v) {
        return std::abs(v / ticks.Step - std::round(v / ticks.Step)) < 1e-9 && v >= ticks.Low && v <= ticks.High;
    });
}

// A coercive field known to a 1000 A/m field step must not be spread over the whole scale when it
// changes by 2 A/m, and every scale and axis is labelled at round numbers.
TEST(MapFigure, ScaleNeverNarrowerThanTheResolutionAndTicksRound) {
    const std::vector<std::optional<double>> values{998, 999.5, std::nullopt, 1000};
    const Resolution fieldStep{1000, "the field step", "A/m"};
    const MapFigure map =
        BuildMapFigure("J1 (J/m^2)", {-1e-3, 1e-3}, "K1 (J/m^3)", {0, 1.0 / 3}, "Hc (A/m)", values, fieldStep);
    EXPECT_GE(map.ColourTicks.High - map.ColourTicks.Low, 1000);
    EXPECT_LE(map.ColourTicks.Low, 998);
    EXPECT_GE(map.ColourTicks.High, 1000);
    EXPECT_EQ(map.Caption, "values differ by less than the field step (1000 A/m)");
    for (const AxisTicks* ticks : {&map.XTicks, &map.YTicks, &map.ColourTicks}) {
        EXPECT_TRUE(Round(*ticks));
        EXPECT_FALSE(ticks->Values.empty());
    }
    // The cells reach half a spacing beyond the first and the last value.
    EXPECT_DOUBLE_EQ(map.XTicks.Low, -2e-3);
    EXPECT_DOUBLE_EQ(map.YTicks.High, 0.5);

    const MapFigure wide = BuildMapFigure("J1", {0, 1}, "K1", {0, 1}, "Hc (A/m)", {0, 5000, 2500, 3000}, fieldStep);
    EXPECT_EQ(wide.Caption, "");
    EXPECT_EQ(wide.ColourTicks.Low, 0);
    EXPECT_EQ(wide.ColourTicks.High, 5000);
}

struct Spot {
    double X = 0;
    double Y = 0;
    std::size_t Count = 0;
};

// The median position of the pixels of one colour: robust to the few of the colour bar.
Spot Where(const QImage& image, QColor colour) {
    std::vector<int> xs;
    std::vector<int> ys;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == colour) {
                xs.push_back(x);
                ys.push_back(y);
            }
        }
    }
    if (xs.empty()) {
        return {};
    }
    std::nth_element(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(xs.size() / 2), xs.end());
    std::nth_element(ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(ys.size() / 2), ys.end());
    return {static_cast<double>(xs[xs.size() / 2]), static_cast<double>(ys[ys.size() / 2]), xs.size()};
}

// Each cell in the colour of its value at its place (the first parameter rightwards, the second
// upwards, also when a parameter's values fall), a missing value grey.
TEST(MapFigure, CellsDrawnWhereAndInTheColourOfTheirValues) {
    const OffscreenGui gui;
    const QColor lowest(68, 1, 84);
    const QColor middle(33, 145, 140);
    const QColor highest(253, 231, 37);
    const QColor missing(200, 200, 200);
    for (const bool xFalls : {false, true}) {
        SCOPED_TRACE(xFalls ? "first parameter falling" : "rising");
        const std::vector<double> x = xFalls ? std::vector<double>{2, 1} : std::vector<double>{1, 2};
        const MapFigure map = BuildMapFigure("a", x, "b", {5, 6}, "v", {0, 10, std::nullopt, 20}, Resolution{});
        ASSERT_EQ(map.ColourTicks.Low, 0);
        ASSERT_EQ(map.ColourTicks.High, 20);
        QImage image(480, 360, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            PaintMapFigure(painter, map, QRectF(0, 0, 480, 360), 1.0);
        }
        const Spot low = Where(image, lowest);   // (x[0], 5)
        const Spot mid = Where(image, middle);   // (x[0], 6)
        const Spot none = Where(image, missing); // (x[1], 5)
        const Spot high = Where(image, highest); // (x[1], 6)
        for (const Spot& spot : {low, mid, none, high}) {
            ASSERT_GT(spot.Count, 2000u);
        }
        EXPECT_NEAR(low.X, mid.X, 2);
        EXPECT_NEAR(none.X, high.X, 2);
        EXPECT_NEAR(low.Y, none.Y, 2);
        EXPECT_NEAR(mid.Y, high.Y, 2);
        EXPECT_LT(mid.Y, low.Y);
        EXPECT_EQ(xFalls, none.X < low.X);
    }
    for (const FigureFormat format : {FigureFormat::Png, FigureFormat::Svg, FigureFormat::Pdf}) {
        const MapFigure line = BuildMapFigure("a", {1, 2, 3}, "", {}, "v", {1, std::nullopt, 3}, Resolution{});
        EXPECT_GT(FigureFileBytes(line, format, 72).size(), 100u);
    }
}

} // namespace
} // namespace dravo2
