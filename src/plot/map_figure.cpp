#include "plot/map_figure.h"

#include "data/number_text.h"

#include <algorithm>
#include <cmath>

namespace dravo2 {
inline namespace plot {
namespace {

// The axis of a heat map's parameter: the frame spans the cells, half a spacing beyond the first
// and the last value, and the ticks are the round values inside it.
AxisTicks CellAxis(const std::vector<double>& values) {
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    AxisTicks ticks = NiceTicks(*lowest, *highest);
    if (values.size() < 2) {
        return ticks;
    }
    const double half = (*highest - *lowest) / static_cast<double>(values.size() - 1) / 2;
    ticks.Low = *lowest - half;
    ticks.High = *highest + half;
    std::erase_if(ticks.Values, [&ticks](double v) { return v < ticks.Low || v > ticks.High; });
    return ticks;
}

} // namespace

MapFigure BuildMapFigure(const std::string& xTitle, const std::vector<double>& x, const std::string& yTitle,
                         const std::vector<double>& y, const std::string& valueTitle,
                         const std::vector<std::optional<double>>& values, const Resolution& resolution) {
    MapFigure figure;
    figure.XTitle = xTitle;
    figure.YTitle = yTitle;
    figure.ValueTitle = valueTitle;
    figure.X = x;
    figure.Y = y;
    figure.Values = values;
    double low = 0;
    double high = 0;
    bool any = false;
    for (const auto& value : values) {
        if (value && std::isfinite(*value)) {
            low = any ? std::min(low, *value) : *value;
            high = any ? std::max(high, *value) : *value;
            any = true;
        }
    }
    if (!any) {
        figure.Caption = "no values";
    } else if (resolution.Step > 0 && high - low < resolution.Step) {
        // A scale stretched over a smaller difference would colour what cannot be resolved.
        const double middle = low / 2 + high / 2;
        low = middle - resolution.Step / 2;
        high = middle + resolution.Step / 2;
        figure.Caption = "values differ by less than " + resolution.Name + " (" + RoundTripText(resolution.Step) +
                         (resolution.Unit.empty() ? "" : " " + resolution.Unit) + ")";
    }
    const AxisTicks valueTicks = any ? NiceTicks(low, high) : NiceTicks(0, 1);
    if (y.empty()) {
        figure.XTicks = x.empty()
                            ? NiceTicks(0, 1)
                            : NiceTicks(*std::min_element(x.begin(), x.end()), *std::max_element(x.begin(), x.end()));
        figure.YTicks = valueTicks;
    } else {
        figure.XTicks = x.empty() ? NiceTicks(0, 1) : CellAxis(x);
        figure.YTicks = CellAxis(y);
        figure.ColourTicks = valueTicks;
    }
    return figure;
}

} // namespace plot
} // namespace dravo2
