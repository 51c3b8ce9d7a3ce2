#include "data/errors.h"
#include "plot/plot.h"

#include <gtest/gtest.h>

#include <memory>

namespace dravo2 {
namespace {

std::unique_ptr<Plot> FreshPlot() {
    auto plot = std::make_unique<Plot>();
    plot->CreationDefaults();
    return plot;
}

std::int32_t CountColour(const Canvas& canvas, Colour colour) {
    std::int32_t n = 0;
    for (const Colour c : canvas.Pixels()) {
        n += c == colour;
    }
    return n;
}

TEST(WorldRange, MappingOfTheUnitRangeOnThePlot) {
    auto plot = FreshPlot();
    plot->ClearScreen(3, '.');
    const WorldRange& r = plot->Range;
    EXPECT_EQ(r.WorldToPixelX(0.5), 352);
    EXPECT_EQ(r.WorldToPixelX(1), 705);
    EXPECT_EQ(r.WorldToPixelY(0), 761);
    EXPECT_EQ(r.WorldToPixelY(1), 0);
    EXPECT_EQ(r.WorldToPixelY(0.5), 381);
    EXPECT_EQ(r.WorldToPixelX(1e12), 2147483647);
    EXPECT_EQ(r.WorldToPixelY(1e12), -2147483647);
    EXPECT_EQ(r.WorldToPixelX(-1e12), -2147483647);
    EXPECT_EQ(r.WorldToPixelY(-1e12), 2147483647);
    // Just inside the lower saturation the row would leave the 32-bit range.
    EXPECT_EQ(r.WorldToPixelY(-2147483000.0 * r.ScaleY), 2147483647);
}

TEST(WorldRange, TiesRoundToEven) {
    WorldRange r;
    r.Bounds = {0, 10, 0, 10};
    r.FixScale(10, 10);
    EXPECT_EQ(r.WorldToPixelX(0.5), 0);
    EXPECT_EQ(r.WorldToPixelX(1.5), 2);
    EXPECT_EQ(r.WorldToPixelX(2.5), 2);
    EXPECT_EQ(r.WorldToPixelX(-0.5), 0);
    EXPECT_EQ(r.WorldToPixelY(0.5), 10);
}

TEST(AutoRange, IncludesZeroAndWidensEachEndByATenthOfItself) {
    struct Case {
        std::vector<double> values;
        double min, max;
    };
    const Case cases[] = {{{5, 7, 10}, 0, 11}, {{-3, -1}, -3.3, 0}, {{-2, 4}, -2.2, 4.4}};
    for (const Case& c : cases) {
        WorldBounds b{9, 9, 9, 9};
        AutoRangeX(b, c.values.data(), static_cast<std::int32_t>(c.values.size()));
        AutoRangeY(b, c.values.data(), static_cast<std::int32_t>(c.values.size()));
        EXPECT_DOUBLE_EQ(b.MinX, c.min);
        EXPECT_DOUBLE_EQ(b.MaxX, c.max);
        EXPECT_DOUBLE_EQ(b.MinY, c.min);
        EXPECT_DOUBLE_EQ(b.MaxY, c.max);
    }
    WorldBounds untouched{1, 2, 3, 4};
    AutoRangeX(untouched, nullptr, 0);
    EXPECT_EQ(untouched.MinX, 1);
    EXPECT_EQ(untouched.MaxX, 2);
}

TEST(ClearScreen, WipesDrawsGreyAxesAndWritesTheLabels) {
    auto plot = FreshPlot();
    plot->Range.Bounds = {-2.75e5, 2.75e5, -1.1e5, 123456};
    plot->ClearScreen(1, '.');
    EXPECT_EQ(plot->PointType, PointStyle::Dot);
    EXPECT_EQ(plot->LabelMinX, "-2.75E5");
    EXPECT_EQ(plot->LabelMaxX, "2.75E5");
    EXPECT_EQ(plot->LabelMinY, "-1.1E5");
    EXPECT_EQ(plot->LabelMaxY, "1.2346E5");
    const std::int32_t axisRow = plot->Range.WorldToPixelY(0);
    const std::int32_t axisColumn = plot->Range.WorldToPixelX(0);
    EXPECT_EQ(axisColumn, 352);
    for (std::int32_t x = 0; x < kPlotWidth; ++x) {
        EXPECT_EQ(plot->Image.PixelAt(x, axisRow), kGrey) << x;
    }
    // The y axis runs from row 761 (below the image) up to, not including, row 0.
    EXPECT_EQ(plot->Image.PixelAt(axisColumn, 1), kGrey);
    EXPECT_EQ(plot->Image.PixelAt(axisColumn, 0), kWhite);
    EXPECT_EQ(CountColour(plot->Image, kGrey), kPlotWidth + kPlotHeight - 2);
    plot->ClearScreen(7, '.');
    EXPECT_EQ(plot->PointType, PointStyle::Dot);
}

TEST(ClearScreen, ADegenerateRangeFailsAfterTheWipeAndBeforeTheLabels) {
    auto plot = FreshPlot();
    plot->ClearScreen(3, '.');
    plot->Image.SetPixel(5, 5, kRed);
    const std::vector<double> zeros(4, 0.0);
    AutoRangeY(plot->Range.Bounds, zeros.data(), 4);
    plot->Range.Bounds.MaxX = 2;
    try {
        plot->ClearScreen(2, '.');
        FAIL() << "no error";
    } catch (const FloatingPointError& error) {
        EXPECT_STREQ(error.what(), "Invalid floating point operation");
    }
    EXPECT_EQ(plot->Image.PixelAt(5, 5), kWhite);
    EXPECT_EQ(plot->PointType, PointStyle::SolidLine);
    EXPECT_EQ(plot->LabelMaxX, "1");
    EXPECT_EQ(plot->LabelMaxY, "1");
    WorldRange flat;
    flat.Bounds = {0, 1, 5, 5};
    flat.FixScale(10, 10);
    try {
        flat.WorldToPixelY(6);
        FAIL() << "no error";
    } catch (const FloatingPointError& error) {
        EXPECT_STREQ(error.what(), "Floating point division by zero");
    }
}

TEST(PlotPoint, TheFourStyles) {
    auto plot = FreshPlot();
    plot->Range.Bounds = {0, kPlotWidth, 0, kPlotHeight};
    plot->ClearScreen(3, '.');
    plot->Image.PenColour = kBlack;
    // A cross of half-size 2 at pixel (100, 200): columns 98..101 and rows 198..201.
    plot->PlotPoint(PointStyle::Cross, 2, 100, kPlotHeight - 200);
    for (std::int32_t d = -2; d <= 1; ++d) {
        EXPECT_EQ(plot->Image.PixelAt(100 + d, 200), kBlack);
        EXPECT_EQ(plot->Image.PixelAt(100, 200 + d), kBlack);
    }
    EXPECT_EQ(plot->Image.PixelAt(102, 200), kWhite);
    EXPECT_EQ(plot->Image.PixelAt(100, 202), kWhite);
    EXPECT_EQ(CountColour(plot->Image, kBlack), 7);
    EXPECT_EQ(plot->Image.PenX(), 100);
    EXPECT_EQ(plot->Image.PenY(), 200);

    plot->PlotPoint(PointStyle::Dot, 2, 300, kPlotHeight - 300);
    EXPECT_EQ(plot->Image.PixelAt(300, 300), kBlue);
    EXPECT_EQ(plot->Image.PenX(), 100);
    plot->PlotPoint(PointStyle::SolidLine, 2, 110, kPlotHeight - 200);
    EXPECT_EQ(plot->Image.PixelAt(105, 200), kBlack);
    EXPECT_EQ(plot->Image.PixelAt(110, 200), kWhite);
    const std::int32_t before = CountColour(plot->Image, kBlack);
    plot->PlotPoint(PointStyle::None, 2, 400, 400);
    EXPECT_EQ(CountColour(plot->Image, kBlack), before);
    EXPECT_EQ(plot->Image.PenX(), 400);
}

// A cross around a saturated coordinate once overflowed the 32-bit arithmetic of its ends.
TEST(PlotPoint, CrossesFarOutsideTheRangeStayOffTheImage) {
    auto plot = FreshPlot();
    plot->ClearScreen(3, '.');
    const std::vector<Colour> before = plot->Image.Pixels();
    for (const double far : {-1e12, 1e12}) {
        plot->PlotPoint(PointStyle::Cross, 8, far, 0.5);
        plot->PlotPoint(PointStyle::Cross, 8, 0.5, far);
    }
    EXPECT_EQ(plot->Image.Pixels(), before);
    EXPECT_EQ(plot->Image.PenX(), 352);
    EXPECT_EQ(plot->Image.PenY(), -2147483647);
}

TEST(ReplotData, MarksTheHighlightedRowWithARedCross) {
    auto plot = FreshPlot();
    plot->Range.Bounds = {0, kPlotWidth, 0, kPlotHeight};
    plot->ClearScreen(1, '.');
    const double xs[] = {100, 200, 300};
    const double ys[] = {100, 200, 300};
    plot->HighlightRow = 2;
    plot->ReplotData(xs, ys, 3);
    EXPECT_EQ(CountColour(plot->Image, kBlue), 2); // the mark covers the dot of row 2
    EXPECT_EQ(CountColour(plot->Image, kRed), 31); // two strokes of 16 sharing the centre
    EXPECT_EQ(plot->Image.PixelAt(200 - 8, kPlotHeight - 200), kRed);
    EXPECT_EQ(plot->Image.PixelAt(200 + 7, kPlotHeight - 200), kRed);
    EXPECT_EQ(plot->Image.PenColour, kBlack);
    plot->HighlightRow = 4;
    plot->ClearScreen(1, '.');
    plot->ReplotData(xs, ys, 3);
    EXPECT_EQ(CountColour(plot->Image, kRed), 0);
}

TEST(ReplotExperiment, RangesOnTheExperimentOrElseOnTheSimulation) {
    auto plot = FreshPlot();
    auto experiment = std::make_unique<ExperimentData>();
    auto simulation = std::make_unique<SimulationData>();
    plot->ReplotExperiment(*experiment, *simulation, 3, '.');
    EXPECT_EQ(plot->LabelMinX, "MinX"); // neither table: nothing happens

    simulation->SimRows = 2;
    simulation->SimTable.At(1, 1) = -100;
    simulation->SimTable.At(1, 2) = 100;
    simulation->SimTable.At(2, 1) = -1;
    simulation->SimTable.At(2, 2) = 1;
    plot->ReplotExperiment(*experiment, *simulation, 3, '.');
    EXPECT_EQ(plot->LabelMinX, "-110");
    EXPECT_EQ(plot->LabelMaxY, "1.1");
    EXPECT_EQ(plot->PointType, PointStyle::SolidLine);

    experiment->ExpRows = 2;
    experiment->ExpCols = 1; // column 2 holds zeros: the y range collapses
    experiment->ExpTable.At(1, 1) = 5;
    experiment->ExpTable.At(1, 2) = 10;
    EXPECT_THROW(plot->ReplotExperiment(*experiment, *simulation, 3, '.'), FloatingPointError);
    EXPECT_EQ(plot->Range.Bounds.MaxX, 11);
}

} // namespace
} // namespace dravo2
