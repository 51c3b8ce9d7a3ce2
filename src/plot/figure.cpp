#include "plot/figure.h"

#include "analysis/misfit.h"
#include "analysis/model_units.h"
#include "data/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace dravo2 {
inline namespace plot {
namespace {

// The largest multiple index i with i * step <= value, exact in spite of the division's rounding.
double FloorIndex(double value, double step) {
    double i = std::floor(value / step);
    while (i * step > value) {
        i -= 1;
    }
    while ((i + 1) * step <= value) {
        i += 1;
    }
    return i;
}

double CeilIndex(double value, double step) {
    double i = std::ceil(value / step);
    while (i * step < value) {
        i += 1;
    }
    while ((i - 1) * step >= value) {
        i -= 1;
    }
    return i;
}

// The scale of a table column for display: fields in kA/m, frequencies in GHz.
double ColumnScale(std::int32_t column) {
    if (column == 1) {
        return 1e-3;
    }
    if (column == 8) {
        return 1e-9;
    }
    return 1;
}

bool ValidColumn(std::int32_t column) {
    return column >= 1 && column <= MaxCols;
}

// Row `row` as a point of the display, or false where it is left out: a resonance marker or a
// value that is not finite.
bool DisplayPoint(const DataTable& table, std::int32_t row, const FigureColumns& columns, FigurePoint& point) {
    const double x = table.At(columns.X, row);
    const double y = table.At(columns.Y, row);
    if ((columns.X == 8 && x == -1.0) || (columns.Y == 8 && y == -1.0)) {
        return false;
    }
    point.X = x * ColumnScale(columns.X);
    point.Y = y * ColumnScale(columns.Y);
    return std::isfinite(point.X) && std::isfinite(point.Y);
}

FigureSeries SeriesOfRows(const DataTable& table, std::int32_t first, std::int32_t last, const FigureColumns& columns,
                          SeriesKind kind) {
    FigureSeries series;
    series.Kind = kind;
    series.Points.reserve(static_cast<std::size_t>(std::int64_t{last} - first + 1));
    for (std::int32_t row = first; row <= last; ++row) {
        FigurePoint point;
        if (DisplayPoint(table, row, columns, point)) {
            series.Points.push_back(point);
        }
    }
    return series;
}

} // namespace

double FieldJump(const double* field, std::int32_t count) {
    std::vector<double> steps;
    for (std::int32_t row = 2; row <= count; ++row) {
        const double step = std::abs(field[row - 1] - field[row - 2]);
        if (step > 0) {
            steps.push_back(step);
        }
    }
    if (steps.empty()) {
        return std::numeric_limits<double>::infinity();
    }
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    return 10 * steps[steps.size() / 2];
}

namespace {

std::vector<Branch> TableBranches(const SimulationData& simulation) {
    const std::int32_t rows = simulation.SimRows > 0 ? simulation.SimRows : 0;
    return SplitBranches({simulation.SimTable.Column(1), static_cast<std::size_t>(rows)});
}

// "measured, misfit M", with the reduced chi^2 where the curve has uncertainties and the terms
// the data cannot tell apart.
std::string MeasuredLegendText(const MisfitResult& misfit) {
    std::string text = "measured, misfit " + GeneralNumberText(misfit.Misfit, 3, '.');
    if (misfit.HasChiSquare) {
        const std::int32_t dof = DegreesOfFreedom(misfit, 0);
        text += ", reduced \u03c7\u00b2 " + (dof > 0 ? GeneralNumberText(misfit.ChiSquare / dof, 3, '.') : "none");
    }
    if (!misfit.Degenerate.empty()) {
        text += " (" + DegenerateText(misfit) + ")";
    }
    return text;
}

} // namespace

std::vector<std::int32_t> TableBranchNumbers(const SimulationData& simulation) {
    const std::vector<Branch> branches = TableBranches(simulation);
    std::vector<std::int32_t> numbers(static_cast<std::size_t>(simulation.SimRows > 0 ? simulation.SimRows : 0), 0);
    // Later branches first, so that a turning point keeps the number of the branch it ends.
    for (std::size_t b = branches.size(); b-- > 0;) {
        for (std::int32_t point = branches[b].First; point <= branches[b].Last; ++point) {
            numbers[static_cast<std::size_t>(point)] = static_cast<std::int32_t>(b + 1);
        }
    }
    return numbers;
}

AxisTicks NiceTicks(double low, double high, int target) {
    AxisTicks ticks;
    if (!std::isfinite(low) || !std::isfinite(high)) {
        ticks.Values = {0, 0.2, 0.4, 0.6, 0.8, 1};
        return ticks;
    }
    if (high < low) {
        std::swap(low, high);
    }
    if (target < 2) {
        target = 2;
    }
    if (high == low) {
        const double half = low == 0 ? 1 : std::abs(low) * 0.1;
        low -= half;
        high += half;
    }
    // Divided before subtracting so that a span beyond the double range stays finite.
    const double raw = high / target - low / target;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / magnitude;
    const double factor = fraction <= 1 ? 1 : (fraction <= 2 ? 2 : (fraction <= 5 ? 5 : 10));
    const double step = factor * magnitude;
    const double first = FloorIndex(low, step);
    const double last = CeilIndex(high, step);
    if (!std::isfinite(step) || step <= 0 || !std::isfinite(first * step) || !std::isfinite(last * step) ||
        last - first > 1000) {
        ticks.Values = {0, 0.2, 0.4, 0.6, 0.8, 1};
        return ticks;
    }
    ticks.Step = step;
    ticks.Low = first * step;
    ticks.High = last * step;
    for (double i = first; i <= last; i += 1) {
        ticks.Values.push_back(i * step);
    }
    return ticks;
}

std::string TickLabel(double value, double step) {
    if (std::abs(value) < std::abs(step) * 1e-9) {
        value = 0; // neither "-0" nor a rounding remnant
    }
    char buffer[64];
    const int decimals = step > 0 ? static_cast<int>(std::ceil(-std::log10(step) - 1e-9)) : 0;
    std::to_chars_result result;
    if (decimals > 6 || std::abs(value) >= 1e7) {
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, std::max(decimals, 0));
    }
    return std::string(buffer, result.ptr);
}

std::string SeriesLegend(SeriesKind kind) {
    switch (kind) {
    case SeriesKind::Measured:
        return "measured";
    case SeriesKind::Downward:
        return "simulated, field down";
    case SeriesKind::Upward:
        return "simulated, field up";
    case SeriesKind::Fitted:
        break;
    }
    return "fitted loop";
}

std::string SeriesLegend(const FigureDescription& figure, SeriesKind kind) {
    if (kind == SeriesKind::Measured && !figure.MeasuredLegend.empty()) {
        return figure.MeasuredLegend;
    }
    return SeriesLegend(kind);
}

std::vector<SeriesKind> LegendKinds(const FigureDescription& figure) {
    std::vector<SeriesKind> kinds;
    for (SeriesKind kind : {SeriesKind::Measured, SeriesKind::Downward, SeriesKind::Upward, SeriesKind::Fitted}) {
        const bool present = std::any_of(figure.Series.begin(), figure.Series.end(),
                                         [kind](const FigureSeries& s) { return s.Kind == kind && !s.Points.empty(); });
        if (present) {
            kinds.push_back(kind);
        }
    }
    return kinds;
}

std::string ColumnTitle(std::int32_t column, bool projectionAlongY) {
    switch (column) {
    case 1:
        return "H (kA/m)";
    case 2:
        return projectionAlongY ? "M_y (T)" : "M_x (T)"; // "_": the letter after it is a subscript
    case 3:
    case 4:
    case 5:
    case 6:
        return "\u03b8_" + std::to_string(column - 2) + " (rad)";
    case 7:
        return "\u0394R (%)";
    case 8:
        return "f (GHz)";
    default:
        break;
    }
    return "column " + std::to_string(column);
}

FigureDescription BuildFigure(const SimulationData& simulation, const FigureColumns& columns,
                              const ExperimentData* measured, const SimulationData* fitted,
                              const FigureComparison* comparison) {
    FigureDescription figure;
    figure.XTitle = ColumnTitle(columns.X, columns.ProjectionAlongY);
    figure.YTitle = ColumnTitle(columns.Y, columns.ProjectionAlongY);
    if (!ValidColumn(columns.X) || !ValidColumn(columns.Y)) {
        figure.XTicks = NiceTicks(0, 1);
        figure.YTicks = NiceTicks(0, 1);
        return figure;
    }
    const bool fieldAndProjection = columns.X == 1 && columns.Y == 2;
    ModelUnitsCurve modelUnits;
    if (comparison != nullptr && measured != nullptr && fieldAndProjection) {
        modelUnits = MeasuredInModelUnits(MeasuredCurve(*measured), SimulatedCurve(simulation), comparison->Misfit,
                                          comparison->Saturation);
    }
    if (!modelUnits.Value.empty()) {
        FigureSeries series;
        series.Kind = SeriesKind::Measured;
        for (std::size_t j = 0; j < modelUnits.Value.size(); ++j) {
            const FigurePoint point{modelUnits.Field[j] * ColumnScale(1), modelUnits.Value[j]};
            if (std::isfinite(point.X) && std::isfinite(point.Y)) {
                series.Points.push_back(point);
            }
            if (comparison->Residuals && std::isfinite(point.X) && std::isfinite(modelUnits.Residual[j])) {
                figure.Residuals.push_back({point.X, modelUnits.Residual[j]});
            }
        }
        figure.Series.push_back(std::move(series));
        figure.MeasuredLegend = MeasuredLegendText(comparison->Misfit);
        if (comparison->Residuals) {
            double largest = 0;
            for (const FigurePoint& r : figure.Residuals) {
                largest = std::max(largest, std::abs(r.Y));
            }
            figure.ResidualPanel = true;
            figure.ResidualTitle = "\u0394" + figure.YTitle;
            figure.ResidualTicks = NiceTicks(-largest, largest, 2);
        }
    } else if (measured != nullptr && measured->ExpRows > 0 && measured->ExpCols >= std::max(columns.X, columns.Y)) {
        figure.Series.push_back(SeriesOfRows(measured->ExpTable, 1, measured->ExpRows, columns, SeriesKind::Measured));
    }
    const double* field = simulation.SimTable.Column(1);
    const double jump = FieldJump(field, simulation.SimRows);
    for (const Branch& branch : TableBranches(simulation)) {
        const SeriesKind kind = branch.Direction == BranchDirection::Down ? SeriesKind::Downward : SeriesKind::Upward;
        // Table rows count from 1, branch points from 0.
        const std::int32_t last = branch.Last + 1;
        std::int32_t first = branch.First + 1;
        for (std::int32_t row = first + 1; row <= last + 1; ++row) {
            if (row > last || std::abs(field[row - 1] - field[row - 2]) > jump) {
                figure.Series.push_back(SeriesOfRows(simulation.SimTable, first, row - 1, columns, kind));
                first = row;
            }
        }
    }
    if (fitted != nullptr && fitted->SimRows > 0) {
        figure.Series.push_back(SeriesOfRows(fitted->SimTable, 1, fitted->SimRows, columns, SeriesKind::Fitted));
    }

    double minX = std::numeric_limits<double>::infinity();
    double maxX = -minX;
    double minY = minX;
    double maxY = -minX;
    for (const FigureSeries& series : figure.Series) {
        for (const FigurePoint& p : series.Points) {
            minX = std::min(minX, p.X);
            maxX = std::max(maxX, p.X);
            minY = std::min(minY, p.Y);
            maxY = std::max(maxY, p.Y);
        }
    }
    if (minX > maxX) { // nothing to draw
        minX = minY = 0;
        maxX = maxY = 1;
    }
    figure.XTicks = NiceTicks(minX, maxX);
    figure.YTicks = NiceTicks(minY, maxY);
    return figure;
}

} // namespace plot
} // namespace dravo2
