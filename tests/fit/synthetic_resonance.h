#pragma once

#include "fit/loop_objective.h"
#include "sweep/run_loop.h"

#include <cmath>

namespace dravo2::testing {

// A resonance table made by the program itself: the modes of `texts` along a loop from
// `largestKam` down to its negative and back (`steps` steps a branch), saturated at the start, read
// on the falling branch or, with `rising`, on the rising one, in the sweep's order. Every mode a
// row has is a point; with `modes` each point names its mode, else only the lowest mode is kept
// and no mode is named. `gamma` is the gyromagnetic ratio, rad/(s T).
inline fit::MeasuredLoop SyntheticResonance(const ParameterTexts& texts, double largestKam, std::int32_t steps,
                                            bool rising, bool modes, double gamma = kGyromagneticRatio) {
    ParameterSet defaults;
    defaults.Model.Solver.Method = SolverMethod::Newton;
    defaults.Model.Gamma = gamma;
    const ModelParameters model = ParametersOf(texts, '.', defaults).Model;
    LoopPlan plan;
    const BranchSweep down{largestKam, -2 * largestKam / steps, steps};
    plan.Branches = {down, ReversedBranch(down)};
    plan.Modes = true;
    const LoopResult loop = RunLoop(model, plan, InitialState::Saturated());
    const std::int32_t first = rising ? loop.BranchRows.at(0) : 0;
    const std::int32_t last = rising ? loop.Rows() : loop.BranchRows.at(0);
    fit::MeasuredLoop table;
    for (std::int32_t row = first; row < last; ++row) {
        const auto r = static_cast<std::size_t>(row);
        for (std::size_t k = 0; k < (modes ? loop.Modes[r].size() : 1); ++k) {
            if (!std::isnan(loop.Modes[r][k])) {
                table.Field.push_back(loop[Observable::Field][r]);
                table.Moment.push_back(loop.Modes[r][k]);
                if (modes) {
                    table.Mode.push_back(static_cast<std::int32_t>(k + 1));
                }
            }
        }
    }
    return table;
}

} // namespace dravo2::testing
