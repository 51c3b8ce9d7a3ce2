#pragma once

#include "analysis/misfit.h"
#include "data/data_table.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace plot {

// Tick marks of one axis at round numbers: multiples of Step, which is 1, 2 or 5 times a power
// of ten, from Low to High (both ticks), covering the data range asked for.
struct AxisTicks {
    double Low = 0;
    double High = 1;
    double Step = 0.2;
    std::vector<double> Values;
};

// Ticks for data spanning [low, high] with about `target` intervals (at least 2 intervals unless
// the span is degenerate). A single value, or a span of no width, gets a round interval around
// it; non-finite input gives 0..1.
AxisTicks NiceTicks(double low, double high, int target = 5);

// The text of a tick value: just enough decimals for the step, no exponent for the usual ranges.
std::string TickLabel(double value, double step);

struct FigurePoint {
    double X = 0;
    double Y = 0;
};

enum class SeriesKind {
    Measured, // small markers
    Downward, // simulated branch with decreasing field: a solid line
    Upward,   // simulated branch with increasing field: a dashed line
    Fitted,   // the fitted loop: a line of its own colour
};

struct FigureSeries {
    SeriesKind Kind = SeriesKind::Measured;
    std::vector<FigurePoint> Points;
};

// A figure for print, free of any drawing library: axes, series and physical size.
struct FigureDescription {
    std::string XTitle; // with its unit; "_" sets the letters or digits after it as a subscript
    std::string YTitle;
    AxisTicks XTicks;
    AxisTicks YTicks;
    std::vector<FigureSeries> Series;
    double WidthCm = 8.5; // one journal column
    double HeightCm = 6.5;
    double FontPt = 8;
    std::string MeasuredLegend; // the measured markers' legend when it says more than "measured"
    // A residual panel under the plot on the same field axis, drawn when ResidualPanel is set.
    bool ResidualPanel = false;
    std::string ResidualTitle;
    AxisTicks ResidualTicks;
    std::vector<FigurePoint> Residuals;
};

// The legend text of a kind of series.
std::string SeriesLegend(SeriesKind kind);

// The legend text of a kind of series in this figure.
std::string SeriesLegend(const FigureDescription& figure, SeriesKind kind);

// The kinds present in the figure, in legend order (measured, downward, upward, fitted).
std::vector<SeriesKind> LegendKinds(const FigureDescription& figure);

// The branch number (from 1) of each of rows 1..SimRows, at index row - 1: the branches of the
// field's direction flips (SplitBranches), a turning row counted to the branch it ends.
std::vector<std::int32_t> TableBranchNumbers(const SimulationData& simulation);

// The field change above which two rows are not joined by a line: ten times the median step of
// the `count` fields (infinite when no field changes). A Reverse after a sweep that stopped early
// starts at the negated start field, far from where the sweep ended; a line across that jump would
// show states the sweep never went through.
double FieldJump(const double* field, std::int32_t count);

// What to plot: the two display columns of the tables and whether the projection is along y.
struct FigureColumns {
    std::int32_t X = 1;
    std::int32_t Y = 2;
    bool ProjectionAlongY = false;
};

// The axis title with its unit for a column of the simulation table.
std::string ColumnTitle(std::int32_t column, bool projectionAlongY);

// The comparison of the measured curve with the simulation, for drawing the measured curve in the
// simulated projection's units: the misfit with its fitted scale and background, and the
// saturation projection (T) the misfit divided by.
struct FigureComparison {
    MisfitResult Misfit;
    double Saturation = 0;
    bool Residuals = false; // add a residual panel
};

// The figure of the current display: the measured curve (when it has the display columns) as
// markers, each simulated branch (split at the field's direction flips) as a line, broken where
// the field jumps by more than ten median steps (a Reverse after an early stop), and the fitted
// loop when given. Fields are shown in kA/m and frequencies in GHz; resonance markers of -1 are
// left out. The axes get round ticks covering every point drawn.
// With a valid comparison and the projection against the field on display, the measured markers
// are drawn in model units (MeasuredInModelUnits), the legend gives the misfit, and on request a
// residual panel holds the measured minus the simulated projection at each covered point.
FigureDescription BuildFigure(const SimulationData& simulation, const FigureColumns& columns,
                              const ExperimentData* measured = nullptr, const SimulationData* fitted = nullptr,
                              const FigureComparison* comparison = nullptr);

} // namespace plot
} // namespace dravo2
