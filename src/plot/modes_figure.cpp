#include "plot/modes_figure.h"

#include "analysis/misfit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dravo2 {
inline namespace plot {

FigureDescription BuildModesFigure(const SimulationData& simulation, const std::vector<std::array<double, 4>>& modes) {
    FigureDescription figure;
    figure.XTitle = ColumnTitle(1, false);
    figure.YTitle = ColumnTitle(8, false);
    const std::int32_t rows =
        std::min(simulation.SimRows > 0 ? simulation.SimRows : 0, static_cast<std::int32_t>(modes.size()));
    const double* field = simulation.SimTable.Column(1);
    const double jump = FieldJump(field, rows);
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -minX;
    double minY = minX;
    double maxY = -minX;
    for (const Branch& branch : SplitBranches({field, static_cast<std::size_t>(rows)})) {
        const SeriesKind kind = branch.Direction == BranchDirection::Down ? SeriesKind::Downward : SeriesKind::Upward;
        for (std::size_t mode = 0; mode < 4; ++mode) {
            FigureSeries series{kind, {}};
            auto endSeries = [&] {
                if (!series.Points.empty()) {
                    figure.Series.push_back(std::move(series));
                }
                series = FigureSeries{kind, {}};
            };
            for (std::int32_t point = branch.First; point <= branch.Last; ++point) {
                const FigurePoint p{field[point] * 1e-3, modes[static_cast<std::size_t>(point)][mode] * 1e-9};
                if (point > branch.First && std::abs(field[point] - field[point - 1]) > jump) {
                    endSeries();
                }
                if (!std::isfinite(p.X) || !std::isfinite(p.Y)) {
                    endSeries();
                    continue;
                }
                series.Points.push_back(p);
                minX = std::min(minX, p.X);
                maxX = std::max(maxX, p.X);
                minY = std::min(minY, p.Y);
                maxY = std::max(maxY, p.Y);
            }
            endSeries();
        }
    }
    if (minX > maxX) { // nothing to draw
        minX = minY = 0;
        maxX = maxY = 1;
    }
    figure.XTicks = NiceTicks(minX, maxX);
    figure.YTicks = NiceTicks(std::min(minY, 0.0), maxY);
    return figure;
}

} // namespace plot
} // namespace dravo2
