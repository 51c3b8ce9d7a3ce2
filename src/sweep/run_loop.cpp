#include "sweep/run_loop.h"

#include "data/errors.h"
#include "sweep/parameter_intake.h"

#include <algorithm>
#include <limits>

namespace dravo2 {

BranchSweep ReversedBranch(const BranchSweep& branch) {
    return {static_cast<double>(ParseParameter(Parameter("start"), SweepFieldText(-branch.Start, '.'))),
            static_cast<double>(ParseParameter(Parameter("step"), SweepFieldText(-branch.Step, '.'))), branch.Steps};
}

std::optional<Real> SaturatedStartAngle(double startF, double endF, bool alongY) {
    if (startF < endF) {
        return alongY ? -kPi / 2 : -kPi;
    }
    if (startF > endF && !alongY) {
        return Real{0};
    }
    return std::nullopt;
}

LoopResult RunLoop(const ModelParameters& parameters, const LoopPlan& plan, const InitialState& initial,
                   const std::atomic<bool>* stop, const LoopProgress& progress) {
    // Flags raised by the caller's own work (a search library, a host program) are not the loop's.
    ClearFloatingPointFlags();
    LoopResult result;
    SweepSession session;
    session.SetParameters(parameters);
    session.Theta = initial.Angles;
    session.Generator.RandomState = initial.RandomState;
    for (auto& column : result.Columns) {
        column.reserve(static_cast<std::size_t>(std::max(plan.MaxRows, 0)));
    }
    try {
        for (std::size_t b = 0; b < plan.Branches.size() && result.End == LoopEnd::Completed; ++b) {
            const BranchSweep& branch = plan.Branches[b];
            session.SetSweep({branch.Start, branch.Steps, branch.Step});
            session.StepIndex = 0;
            if (b == 0 && initial.From == InitialState::Kind::Saturated) {
                if (const auto angle = SaturatedStartAngle(session.StartF, session.EndF, plan.ProjectionAlongY)) {
                    session.Theta.fill(*angle);
                }
            }
            result.BranchRows.push_back(0);
            while (!session.SweepOver()) {
                if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
                    result.End = LoopEnd::Stopped;
                    break;
                }
                if (result.Rows() >= plan.MaxRows) {
                    result.End = LoopEnd::TableFull;
                    break;
                }
                session.AdvanceField();
                RowCells cells{};
                for (std::size_t k = 0; k < kObservableCount; ++k) {
                    result.Columns[k].push_back(0.0);
                    cells[k] = &result.Columns[k].back();
                }
                ++result.BranchRows.back();
                session.RelaxAndRecord(cells, parameters.DeltaR, plan.ProjectionAlongY);
                result.Iterations += session.IterationCount;
                if (plan.Modes) {
                    result.Modes.push_back(ResonanceModes(session.Model, session.Theta, parameters.Gamma));
                }
                if (progress) {
                    progress(b, session.StepIndex, session.Nstep);
                }
            }
        }
    } catch (const FloatingPointError& error) {
        result.End = LoopEnd::FloatingPointError;
        result.Error = error.what();
    }
    if (plan.Modes) {
        ModeRow none;
        none.fill(std::numeric_limits<double>::quiet_NaN());
        result.Modes.resize(static_cast<std::size_t>(result.Rows()), none);
    }
    result.FinalAngles = session.Theta;
    result.FinalRandomState = session.Generator.RandomState;
    return result;
}

void FillTable(const LoopResult& result, SimulationData& simulation) {
    simulation.SimRows = result.Rows();
    for (std::size_t k = 0; k < kObservableCount; ++k) {
        if (const std::int32_t column = TableColumn(static_cast<Observable>(k))) {
            std::copy(result.Columns[k].begin(), result.Columns[k].end(), &simulation.SimTable.At(column, 1));
        }
    }
}

} // namespace dravo2
