#include "plot/figure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace dravo2 {
namespace {

// A step is round when it is 1, 2 or 5 times a power of ten.
bool RoundStep(double step) {
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    for (double round : {1.0, 2.0, 5.0, 10.0}) {
        if (std::abs(mantissa - round) < 1e-9) {
            return true;
        }
    }
    return false;
}

TEST(NiceTicks, RoundValuesCoveringTheData) {
    const double ranges[][2] = {{-250, 250},    {-1.0538, 1.0538}, {0, 2.1e10},  {0.93, 21.06}, {-6.2832, 6.2832},
                                {1e-7, 3e-7},   {-3, -2.999},      {17, 17},     {0, 0},        {-1e300, 1e300},
                                {1e-320, 1e-3}, {0.1, 0.3},        {-0.004, 99}, {99.9, 100.1}};
    for (const auto& range : ranges) {
        SCOPED_TRACE(::testing::Message() << range[0] << " .. " << range[1]);
        const AxisTicks ticks = NiceTicks(range[0], range[1]);
        ASSERT_GE(ticks.Values.size(), 3u);
        EXPECT_LE(ticks.Values.size(), 12u);
        EXPECT_TRUE(RoundStep(ticks.Step)) << ticks.Step;
        EXPECT_LE(ticks.Low, range[0]);
        EXPECT_GE(ticks.High, range[1]);
        EXPECT_EQ(ticks.Values.front(), ticks.Low);
        EXPECT_EQ(ticks.Values.back(), ticks.High);
        for (double v : ticks.Values) {
            const double multiple = v / ticks.Step;
            EXPECT_NEAR(multiple, std::round(multiple), 1e-6) << v;
        }
    }
    const AxisTicks loop = NiceTicks(-249000e-3, 250);
    EXPECT_EQ(loop.Step, 100);
    EXPECT_EQ(loop.Values, (std::vector<double>{-300, -200, -100, 0, 100, 200, 300}));
    const AxisTicks broken = NiceTicks(0, std::nan(""));
    EXPECT_EQ(broken.Low, 0);
    EXPECT_EQ(broken.High, 1);
}

TEST(NiceTicks, LabelsHaveTheDecimalsOfTheStep) {
    EXPECT_EQ(TickLabel(-1.5, 0.5), "-1.5");
    EXPECT_EQ(TickLabel(1, 0.5), "1.0");
    EXPECT_EQ(TickLabel(-200, 100), "-200");
    EXPECT_EQ(TickLabel(0.30000000000000004, 0.05), "0.30");
    EXPECT_EQ(TickLabel(-1e-17, 0.2), "0.0"); // no "-0.0" from a rounding remnant
    EXPECT_EQ(TickLabel(2e-7, 1e-7), "2e-07");
}

TEST(TableBranchNumbers, ATurningRowCountsToTheBranchItEnds) {
    auto simulation = std::make_unique<SimulationData>();
    // Up, a plateau that stays in the branch, down, up again.
    const double field[] = {1, 2, 2, 3, 2, 1, 1, 4};
    simulation->SimRows = 8;
    for (std::int32_t row = 1; row <= 8; ++row) {
        simulation->SimTable.At(1, row) = field[row - 1];
    }
    EXPECT_EQ(TableBranchNumbers(*simulation), (std::vector<std::int32_t>{1, 1, 1, 1, 2, 2, 2, 3}));
    simulation->SimRows = 0;
    EXPECT_TRUE(TableBranchNumbers(*simulation).empty());
}

TEST(BuildFigure, OneLinePerBranchInDisplayUnits) {
    auto simulation = std::make_unique<SimulationData>();
    // Up from -2 kA/m to 2 kA/m, then down to -1 kA/m; no resonance at the turning point.
    const double field[] = {-2000, -1000, 0, 1000, 2000, 1000, 0, -1000};
    simulation->SimRows = 8;
    for (std::int32_t row = 1; row <= 8; ++row) {
        simulation->SimTable.At(1, row) = field[row - 1];
        simulation->SimTable.At(2, row) = row < 5 ? -1.5 : 1.5;
        simulation->SimTable.At(8, row) = row == 5 ? -1 : 1e9 * row;
    }
    auto measured = std::make_unique<ExperimentData>();
    measured->ExpRows = 3;
    measured->ExpCols = 2;
    measured->ExpTable.At(1, 3) = 5000;

    const FigureDescription loop = BuildFigure(*simulation, {1, 2, false}, measured.get());
    EXPECT_EQ(loop.XTitle, "H (kA/m)");
    EXPECT_EQ(loop.YTitle, "M_x (T)");
    ASSERT_EQ(loop.Series.size(), 3u);
    EXPECT_EQ(loop.Series[0].Kind, SeriesKind::Measured);
    EXPECT_EQ(loop.Series[0].Points.size(), 3u);
    EXPECT_EQ(loop.Series[0].Points[2].X, 5);
    EXPECT_EQ(loop.Series[1].Kind, SeriesKind::Upward);
    EXPECT_EQ(loop.Series[1].Points.size(), 5u);
    EXPECT_EQ(loop.Series[1].Points[0].X, -2);
    EXPECT_EQ(loop.Series[2].Kind, SeriesKind::Downward);
    EXPECT_EQ(loop.Series[2].Points.size(), 4u);
    EXPECT_EQ(loop.Series[2].Points[0].X, 2);
    EXPECT_GE(loop.XTicks.High, 5);
    EXPECT_LE(loop.YTicks.Low, -1.5);
    EXPECT_EQ(LegendKinds(loop),
              (std::vector<SeriesKind>{SeriesKind::Measured, SeriesKind::Downward, SeriesKind::Upward}));

    // The measured curve has no frequency column; the resonance marker is left out.
    const FigureDescription fmr = BuildFigure(*simulation, {1, 8, false}, measured.get());
    EXPECT_EQ(fmr.YTitle, "f (GHz)");
    ASSERT_EQ(fmr.Series.size(), 2u);
    EXPECT_EQ(fmr.Series[0].Points.size(), 4u);
    EXPECT_EQ(fmr.Series[1].Points.size(), 3u);
    EXPECT_EQ(fmr.Series[1].Points[0].Y, 6);
    EXPECT_GE(fmr.YTicks.Low, 0);

    // A Reverse after an early stop starts far away: no line across the jump.
    simulation->SimTable.At(1, 6) = 20000;
    simulation->SimTable.At(1, 7) = 19000;
    simulation->SimTable.At(1, 8) = 18000;
    const FigureDescription jumped = BuildFigure(*simulation, {1, 2, false});
    ASSERT_EQ(jumped.Series.size(), 3u);
    EXPECT_EQ(jumped.Series[0].Points.size(), 5u);
    EXPECT_EQ(jumped.Series[1].Points.size(), 1u);
    EXPECT_EQ(jumped.Series[1].Points[0].X, 20);
    EXPECT_EQ(jumped.Series[2].Kind, SeriesKind::Downward);
    EXPECT_EQ(jumped.Series[2].Points.size(), 3u);
}

TEST(BuildFigure, MeasuredMarkersInModelUnitsLieOnTheSimulatedCurve) {
    // A hysteresis loop down from 10 kA/m and back up, saturating at 1.2 T; the measured curve is
    // the same loop scaled to a moment in emu, on a background slope and offset.
    auto simulation = std::make_unique<SimulationData>();
    std::int32_t rows = 0;
    auto add = [&](double field, double shift) {
        ++rows;
        simulation->SimTable.At(1, rows) = field;
        simulation->SimTable.At(2, rows) = 1.2 * std::tanh((field + shift) / 2000);
    };
    for (int k = 20; k >= -20; --k) {
        add(500.0 * k, 1500);
    }
    for (int k = -19; k <= 20; ++k) {
        add(500.0 * k, -1500);
    }
    simulation->SimRows = rows;
    const double saturation = 1.2;
    const double scale = 3.2e-4;
    const double slope = -5.2e-11;
    const double offset = 7e-6;
    auto measured = std::make_unique<ExperimentData>();
    measured->ExpCols = 2;
    measured->ExpRows = rows;
    for (std::int32_t row = 1; row <= rows; ++row) {
        const double field = simulation->SimTable.At(1, row);
        measured->ExpTable.At(1, row) = field;
        measured->ExpTable.At(2, row) = scale * simulation->SimTable.At(2, row) / saturation + slope * field + offset;
    }

    FigureComparison comparison;
    comparison.Misfit =
        ComputeMisfit(MeasuredCurve(*measured), SimulatedCurve(*simulation), saturation, MisfitOptions{true, true});
    ASSERT_TRUE(comparison.Misfit.Valid) << comparison.Misfit.Reason;
    comparison.Saturation = saturation;
    comparison.Residuals = true;
    const FigureDescription figure = BuildFigure(*simulation, {1, 2, false}, measured.get(), nullptr, &comparison);

    ASSERT_FALSE(figure.Series.empty());
    const FigureSeries& markers = figure.Series.front();
    ASSERT_EQ(markers.Kind, SeriesKind::Measured);
    ASSERT_EQ(markers.Points.size(), static_cast<std::size_t>(rows));
    const auto [low, high] = std::minmax_element(markers.Points.begin(), markers.Points.end(),
                                                 [](const FigurePoint& a, const FigurePoint& b) { return a.Y < b.Y; });
    const double* projection = simulation->SimTable.Column(2);
    const auto [simulatedLow, simulatedHigh] = std::minmax_element(projection, projection + rows);
    EXPECT_NEAR(low->Y, *simulatedLow, 1e-9) << "inside and spanning the simulated range";
    EXPECT_NEAR(high->Y, *simulatedHigh, 1e-9);
    EXPECT_LE(figure.YTicks.High, 1.5) << "the axis is the simulation's, not the moment's";
    EXPECT_EQ(figure.MeasuredLegend.rfind("measured, misfit ", 0), 0u) << figure.MeasuredLegend;
    EXPECT_EQ(SeriesLegend(figure, SeriesKind::Measured), figure.MeasuredLegend);

    ASSERT_TRUE(figure.ResidualPanel);
    EXPECT_EQ(figure.ResidualTitle, "\u0394M_x (T)");
    EXPECT_EQ(figure.Residuals.size(), static_cast<std::size_t>(rows));
    for (const FigurePoint& residual : figure.Residuals) {
        EXPECT_NEAR(residual.Y, 0, 1e-9) << "at " << residual.X << " kA/m";
    }

    // Where the data cannot fix every term, the legend says so beside the misfit.
    comparison.Misfit.Degenerate = "scale and slope";
    const FigureDescription degenerate = BuildFigure(*simulation, {1, 2, false}, measured.get(), nullptr, &comparison);
    EXPECT_NE(degenerate.MeasuredLegend.find("(scale and slope cannot be told apart over the measured range)"),
              std::string::npos)
        << degenerate.MeasuredLegend;

    // Without a valid comparison the measured curve is drawn as it was read.
    comparison.Misfit.Valid = false;
    const FigureDescription raw = BuildFigure(*simulation, {1, 2, false}, measured.get(), nullptr, &comparison);
    EXPECT_FALSE(raw.ResidualPanel);
    EXPECT_EQ(SeriesLegend(raw, SeriesKind::Measured), "measured");
    EXPECT_EQ(raw.Series.front().Points[0].Y, measured->ExpTable.At(2, 1));
}

} // namespace
} // namespace dravo2
