#include "scan/grid_point.h"

#include "analysis/loop_features.h"
#include "sweep/run_loop.h"

#include <span>

namespace dravo2 {
inline namespace scan {

ScanRow SimulateGridPoint(const ParameterSet& parameters, const ScanPlan& plan, const std::atomic<bool>* stop,
                          const ScanComparison* comparison) {
    LoopPlan loop;
    loop.ProjectionAlongY = plan.ProjectionAlongY;
    loop.Branches = {parameters.Sweep, ReversedBranch(parameters.Sweep)};
    const InitialState initial = plan.SaturatedStart ? InitialState::Saturated() : InitialState{};
    const LoopResult result = RunLoop(parameters.Model, loop, initial, stop);

    ScanRow row;
    row.Iterations = result.Iterations;
    if (result.End == LoopEnd::Stopped) {
        return row;
    }
    if (result.End == LoopEnd::FloatingPointError) {
        row.Problem = result.Error;
        return row;
    }
    const LayerValues layers = LayersOf(parameters.Model.Stack);
    const double saturation = SaturationProjection(layers.M, layers.t);
    const std::span<const double> field = result[Observable::Field];
    const std::span<const double> projection = result[Observable::Projection];
    const auto startRows = static_cast<std::size_t>(result.BranchRows.empty() ? 0 : result.BranchRows.front());
    const LoopBranch start{field.first(startRows), projection.first(startRows)};
    const LoopBranch reverse{field.subspan(startRows), projection.subspan(startRows)};
    row.Features = ComputeLoopFeatures(start, reverse, saturation);
    if (comparison != nullptr && comparison->Measured != nullptr) {
        MisfitOptions terms = comparison->Background;
        if (comparison->AreaPerMomentUnit > 0) {
            terms.FixedScale = SaturatedMoment(layers.M, layers.t, 1.0, 1.0) * comparison->AreaPerMomentUnit;
        }
        const CurveView simulated{field.data(), projection.data(), result.Rows()};
        const MisfitResult misfit = ComputeMisfit(MeasuredCurve(*comparison->Measured), simulated, saturation, terms);
        if (misfit.Valid) {
            row.Misfit = misfit.Misfit;
        }
    }
    return row;
}

} // namespace scan
} // namespace dravo2
