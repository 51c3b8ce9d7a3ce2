#pragma once

#include "data/data_table.h"
#include "plot/canvas.h"
#include "plot/world_range.h"

#include <array>
#include <cstdint>
#include <string>

namespace dravo2 {
inline namespace plot {

inline constexpr std::int32_t kPlotWidth = 705;
inline constexpr std::int32_t kPlotHeight = 761;

// Point styles of a curve, in the order of the point-type choice.
enum class PointStyle : std::uint8_t { None, Dot, SolidLine, Cross };

// The item of the point-type choice that picks crosses.
inline constexpr int kCrossPointItem = static_cast<int>(PointStyle::Cross);

// The plot image with its world range, point style, display columns and range labels.
class Plot {
public:
    Plot() : Image(kPlotWidth, kPlotHeight) {}

    Canvas Image;
    WorldRange Range;
    PointStyle PointType = PointStyle::Cross;
    std::int32_t PointSize = 2;
    std::int32_t HighlightRow = -1;
    std::int32_t ExpXCol = 1;
    std::int32_t ExpYCol = 2;
    std::int32_t SimXCol = 1;
    std::int32_t SimYCol = 2;

    // Captions of the four range labels as of the last ClearScreen that wrote them.
    std::string LabelMinX = "MinX";
    std::string LabelMaxX = "MaxX";
    std::string LabelMinY = "MinY";
    std::string LabelMaxY = "MaxY";

    // How many times ClearScreen has wiped the image: a drawing made after the count was read is
    // still on show while the count is unchanged.
    std::uint64_t Clears = 0;

    // The window's creation defaults: range 0..1 by 0..1, crosses, columns 1 and 2, point
    // size 2, no highlighted row.
    void CreationDefaults();

    // Readies a fresh drawing: the point style from the style choice (0..3; anything else keeps
    // it), the scale from the range and the image size, a white wipe, grey axes, then the range
    // labels in the general format with 5 digits. A degenerate range throws from the axes, after
    // the wipe and before the labels.
    void ClearScreen(int pointStyleItem, char separator);

    // The line y = 0 from MinX to MaxX, and x = 0 from MinY to MaxY, with the current pen.
    void DrawXAxis();
    void DrawYAxis();

    // One point of a curve at world (x, y) in the given style with the given cross half-size.
    void PlotPoint(PointStyle style, std::int32_t halfSize, double x, double y);

    // A whole curve, rows 1..count of two columns, in PointType with PointSize, black; the row
    // HighlightRow gets a red cross of half-size 8 on top. The pen first moves to row 1, also
    // for a count of 0.
    void ReplotData(const double* xs, const double* ys, std::int32_t count);

    // The drawing of the experiment replot: the experiment's columns 1 and 2 auto-ranged and drawn
    // in the chosen style, or, with no experiment, the simulation's display columns auto-ranged
    // and drawn as a solid line; nothing with neither.
    void ReplotExperiment(const ExperimentData& experiment, const SimulationData& simulation, int pointStyleItem,
                          char separator);

    // The display columns of a sweep step: both the live point's and the replots' pair.
    void ShowColumns(const std::array<std::int32_t, 2>& columns);

    // The point of a sweep step just recorded: the first row of a sweep through ReplotData, every
    // later one in PointType with half-size 3, joined to the last drawing in the solid style.
    void PlotLivePoint(const SimulationData& simulation);

    // The experimental curve in the display columns (its count may be 0), then, when the
    // simulation has rows, the simulation in the same columns as a solid line.
    void ReplotBoth(const ExperimentData& experiment, const SimulationData& simulation);

    // A sweep's drawing made anew in the present range: a fresh plot, the measured curve (xs, ys;
    // count 0 for none) in the point style of `measuredStyleItem` as Start draws it, then every
    // simulated row in the display columns as the ticks drew them (PointType kept), the pen left
    // at the last row for the next live point.
    void ReplotSweep(const double* xs, const double* ys, std::int32_t count, int measuredStyleItem,
                     const SimulationData& simulation, char separator);
};

} // namespace plot
} // namespace dravo2
