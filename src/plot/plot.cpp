#include "plot/plot.h"

#include "data/number_text.h"

#include <algorithm>
#include <cstdint>

namespace dravo2 {
inline namespace plot {
namespace {

// p + d kept within the 32-bit range: a cross around a saturated coordinate stays off the image.
std::int32_t Beside(std::int32_t p, std::int32_t d) {
    const std::int64_t sum = static_cast<std::int64_t>(p) + d;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX));
}

} // namespace

void Plot::CreationDefaults() {
    Range.Bounds = WorldBounds{};
    PointType = PointStyle::Cross;
    ExpXCol = 1;
    ExpYCol = 2;
    SimXCol = 1;
    SimYCol = 2;
    PointSize = 2;
    HighlightRow = -1;
}

void Plot::ClearScreen(int pointStyleItem, char separator) {
    ClearFloatingPointFlags();
    ++Clears;
    if (pointStyleItem >= 0 && pointStyleItem <= 3) {
        PointType = static_cast<PointStyle>(pointStyleItem);
    }
    Range.FixScale(Image.Width(), Image.Height());
    Image.FillRect(0, 0, Range.PlotWidth, Range.PlotHeight);
    Image.PenColour = kGrey;
    DrawXAxis();
    DrawYAxis();
    LabelMinX = GeneralNumberText(Range.Bounds.MinX, 5, separator);
    LabelMaxX = GeneralNumberText(Range.Bounds.MaxX, 5, separator);
    LabelMinY = GeneralNumberText(Range.Bounds.MinY, 5, separator);
    LabelMaxY = GeneralNumberText(Range.Bounds.MaxY, 5, separator);
}

void Plot::DrawXAxis() {
    const std::int32_t x0 = Range.WorldToPixelX(Range.Bounds.MinX);
    const std::int32_t y = Range.WorldToPixelY(0);
    Image.MoveTo(x0, y);
    Image.LineTo(Range.WorldToPixelX(Range.Bounds.MaxX), Range.WorldToPixelY(0));
}

void Plot::DrawYAxis() {
    const std::int32_t x = Range.WorldToPixelX(0);
    const std::int32_t y0 = Range.WorldToPixelY(Range.Bounds.MinY);
    Image.MoveTo(x, y0);
    Image.LineTo(Range.WorldToPixelX(0), Range.WorldToPixelY(Range.Bounds.MaxY));
}

void Plot::PlotPoint(PointStyle style, std::int32_t halfSize, double x, double y) {
    const std::int32_t px = Range.WorldToPixelX(x);
    const std::int32_t py = Range.WorldToPixelY(y);
    switch (style) {
    case PointStyle::Dot:
        Image.SetPixel(px, py, kBlue);
        return;
    case PointStyle::SolidLine:
        Image.LineTo(px, py);
        return;
    case PointStyle::Cross:
        Image.MoveTo(Beside(px, -halfSize), py);
        Image.LineTo(Beside(px, halfSize), py);
        Image.MoveTo(px, Beside(py, -halfSize));
        Image.LineTo(px, Beside(py, halfSize));
        Image.MoveTo(px, py);
        return;
    case PointStyle::None:
        Image.MoveTo(px, py);
        return;
    }
}

void Plot::ReplotData(const double* xs, const double* ys, std::int32_t count) {
    ClearFloatingPointFlags();
    Image.PenColour = kBlack;
    Image.MoveTo(Range.WorldToPixelX(xs[0]), Range.WorldToPixelY(ys[0]));
    for (std::int32_t r = 1; r <= count; ++r) {
        PlotPoint(PointType, PointSize, xs[r - 1], ys[r - 1]);
        if (r == HighlightRow) {
            Image.PenColour = kRed;
            PlotPoint(PointStyle::Cross, 8, xs[r - 1], ys[r - 1]);
            Image.PenColour = kBlack;
        }
    }
}

void Plot::ReplotExperiment(const ExperimentData& experiment, const SimulationData& simulation, int pointStyleItem,
                            char separator) {
    if (experiment.ExpRows > 0) {
        const DataTable& table = experiment.ExpTable;
        AutoRangeX(Range.Bounds, table.Column(1), experiment.ExpRows);
        AutoRangeY(Range.Bounds, table.Column(2), experiment.ExpRows);
        ClearScreen(pointStyleItem, separator);
        ReplotData(table.Column(1), table.Column(2), experiment.ExpRows);
    } else if (simulation.SimRows > 0) {
        const DataTable& table = simulation.SimTable;
        AutoRangeX(Range.Bounds, table.Column(ExpXCol), simulation.SimRows);
        AutoRangeY(Range.Bounds, table.Column(ExpYCol), simulation.SimRows);
        ClearScreen(pointStyleItem, separator);
        PointType = PointStyle::SolidLine;
        ReplotData(table.Column(ExpXCol), table.Column(ExpYCol), simulation.SimRows);
    }
}

void Plot::ShowColumns(const std::array<std::int32_t, 2>& columns) {
    SimXCol = ExpXCol = columns[0];
    SimYCol = ExpYCol = columns[1];
}

void Plot::PlotLivePoint(const SimulationData& simulation) {
    const DataTable& table = simulation.SimTable;
    const std::int32_t row = simulation.SimRows;
    if (row == 1) {
        ReplotData(table.Column(ExpXCol), table.Column(ExpYCol), row);
    } else {
        PlotPoint(PointType, 3, table.At(SimXCol, row), table.At(SimYCol, row));
    }
}

void Plot::ReplotBoth(const ExperimentData& experiment, const SimulationData& simulation) {
    if (experiment.ExpRows > 0) {
        ReplotData(experiment.ExpTable.Column(ExpXCol), experiment.ExpTable.Column(ExpYCol), experiment.ExpRows);
    }
    if (simulation.SimRows > 0) {
        PointType = PointStyle::SolidLine;
        ReplotData(simulation.SimTable.Column(ExpXCol), simulation.SimTable.Column(ExpYCol), simulation.SimRows);
    }
}

void Plot::ReplotSweep(const double* xs, const double* ys, std::int32_t count, int measuredStyleItem,
                       const SimulationData& simulation, char separator) {
    const PointStyle sweepStyle = PointType;
    ClearScreen(measuredStyleItem, separator);
    if (count > 0) {
        ReplotData(xs, ys, count);
    }
    PointType = sweepStyle;
    const DataTable& table = simulation.SimTable;
    if (simulation.SimRows > 0) {
        ReplotData(table.Column(SimXCol), table.Column(SimYCol), 1);
    }
    for (std::int32_t row = 2; row <= simulation.SimRows; ++row) {
        PlotPoint(PointType, 3, table.At(SimXCol, row), table.At(SimYCol, row));
    }
}

} // namespace plot
} // namespace dravo2
