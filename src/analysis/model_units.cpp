#include "analysis/model_units.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dravo2 {
inline namespace analysis {
ModelUnitsCurve MeasuredInModelUnits(const CurveView& measured, const CurveView& simulated, const MisfitResult& misfit,
                                     double saturation) {
    ModelUnitsCurve curve;
    if (!misfit.Valid || misfit.Scale == 0 || !std::isfinite(misfit.Scale) || !(saturation > 0) ||
        measured.Count <= 0) {
        return curve;
    }
    const auto count = static_cast<std::size_t>(measured.Count);
    curve.Field.assign(measured.Field, measured.Field + count);
    curve.Value.resize(count);
    for (std::size_t j = 0; j < count; ++j) {
        const double background = misfit.Slope * measured.Field[j] + misfit.Offset;
        curve.Value[j] = (measured.Value[j] - background) / misfit.Scale * saturation;
    }

    // Each point against the simulated branch the comparison matches it with: the first of its
    // direction whose field span holds it. A turning point takes the branch it ends.
    curve.Residual.assign(count, std::numeric_limits<double>::quiet_NaN());
    const std::size_t simulatedCount = simulated.Count > 0 ? static_cast<std::size_t>(simulated.Count) : 0;
    const std::vector<Branch> simulatedBranches = SplitBranches({simulated.Field, simulatedCount});
    std::vector<bool> done(count, false);
    for (const Branch& branch : SplitBranches({measured.Field, count})) {
        for (std::int32_t j = branch.First; j <= branch.Last; ++j) {
            const auto point = static_cast<std::size_t>(j);
            if (done[point]) {
                continue;
            }
            const double h = measured.Field[j];
            const auto match =
                std::find_if(simulatedBranches.begin(), simulatedBranches.end(), [&](const Branch& candidate) {
                    const double a = simulated.Field[candidate.First];
                    const double b = simulated.Field[candidate.Last];
                    return candidate.Direction == branch.Direction && std::min(a, b) <= h && h <= std::max(a, b);
                });
            if (match != simulatedBranches.end()) {
                curve.Residual[point] = curve.Value[point] - InterpolateOnBranch(simulated, *match, h);
                done[point] = true;
            }
        }
    }
    return curve;
}

} // namespace analysis
} // namespace dravo2
