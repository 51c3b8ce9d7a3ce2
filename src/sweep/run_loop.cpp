#include "sweep/run_loop.h"

#include "data/errors.h"
#include "sweep/parameter_intake.h"

#include <algorithm>
#include <limits>

namespace dravo2 {
inline namespace sweep {

BranchSweep ReversedBranch(const BranchSweep& branch) {
    return {
        static_cast<double>(ParseParameter(Parameter("start"), SweepFieldText(-branch.StartKiloAmperesPerMetre, '.'))),
        static_cast<double>(ParseParameter(Parameter("step"), SweepFieldText(-branch.StepKiloAmperesPerMetre, '.'))),
        branch.Steps};
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

namespace {

// The branch of each field of a sequence, from 1: a new branch begins after each point where the
// field turns, a step without change stays in its branch. `firstEnd` is the index of the first
// branch's last field.
std::vector<std::int32_t> SequenceBranches(const std::vector<double>& fields, std::size_t& firstEnd) {
    std::vector<std::int32_t> branches;
    branches.reserve(fields.size());
    std::int32_t branch = 1;
    int direction = 0; // of the present branch: +1 up, -1 down, 0 not yet known
    firstEnd = fields.empty() ? 0 : fields.size() - 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            const int change = fields[i] > fields[i - 1] ? 1 : (fields[i] < fields[i - 1] ? -1 : 0);
            if (change != 0 && direction != 0 && change != direction) {
                if (branch == 1) {
                    firstEnd = i - 1;
                }
                ++branch;
            }
            if (change != 0) {
                direction = change;
            }
        }
        branches.push_back(branch);
    }
    return branches;
}

} // namespace

LoopResult RunLoop(const ModelParameters& parameters, const LoopPlan& plan, const InitialState& initial,
                   const LoopStop& stop, const LoopProgress& progress) {
    // Flags raised by the caller's own work (a search library, a host program) are not the loop's.
    ClearFloatingPointFlags();
    LoopResult result;
    SweepSession session;
    session.SetParameters(parameters);
    session.Theta = initial.Angles;
    session.Generator.RandomState = initial.RandomState;
    const bool sequence = !plan.Fields.empty();
    std::size_t firstEnd = 0;
    const std::vector<std::int32_t> sequenceBranches =
        sequence ? SequenceBranches(plan.Fields, firstEnd) : std::vector<std::int32_t>{};

    std::int64_t planned = static_cast<std::int64_t>(plan.Fields.size());
    for (const BranchSweep& branch : plan.Branches) {
        planned += sequence ? 0 : std::max(branch.Steps, 0);
    }
    result.Capacity = static_cast<std::size_t>(std::min<std::int64_t>(planned, std::max(plan.MaxRows, 0)));
    result.Block.assign(kObservableCount * result.Capacity, 0.0);
    result.Branch.reserve(result.Capacity);

    // Whether a further row may be taken: not once stopped or the rows are all taken.
    auto mayStep = [&] {
        if (stop()) {
            result.End = LoopEnd::Stopped;
        } else if (result.Rows() >= plan.MaxRows) {
            result.End = LoopEnd::TableFull;
        }
        return result.End == LoopEnd::Completed;
    };
    // Relaxes the model at the session's field and records the row (`advanced`: straight after
    // the session's AdvanceField).
    auto record = [&](std::int32_t branch, bool advanced) {
        const std::size_t row = result.Branch.size();
        result.Branch.push_back(branch);
        ++result.BranchRows.back();
        RowCells cells{};
        for (std::size_t k = 0; k < kObservableCount; ++k) {
            cells[k] = result.Block.data() + k * result.Capacity + row;
        }
        if (advanced) {
            session.RelaxAndRecordAdvanced(cells, parameters.DeltaR, plan.ProjectionAlongY);
        } else {
            session.RelaxAndRecord(cells, parameters.DeltaR, plan.ProjectionAlongY);
        }
        result.Iterations += session.IterationCount;
        if (plan.Modes) {
            result.Modes.push_back(ResonanceModes(session.Model, session.Theta, parameters.Gamma));
        }
    };

    try {
        if (sequence) {
            if (initial.From == InitialState::Kind::Saturated) {
                if (const auto angle =
                        SaturatedStartAngle(plan.Fields.front(), plan.Fields[firstEnd], plan.ProjectionAlongY)) {
                    session.Theta.fill(*angle);
                }
            }
            const auto count = static_cast<std::int32_t>(plan.Fields.size());
            for (std::int32_t row = 0; row < count; ++row) {
                const std::int32_t branch = sequenceBranches[static_cast<std::size_t>(row)];
                if (static_cast<std::size_t>(branch) > result.BranchRows.size()) {
                    result.BranchRows.push_back(0);
                }
                if (!mayStep()) {
                    break;
                }
                session.Model.FieldH = plan.Fields[static_cast<std::size_t>(row)];
                record(branch, false);
                if (progress) {
                    progress(static_cast<std::size_t>(branch - 1), row + 1, count);
                }
            }
        }
        for (std::size_t b = 0; !sequence && b < plan.Branches.size() && result.End == LoopEnd::Completed; ++b) {
            const BranchSweep& branch = plan.Branches[b];
            session.SetSweep({branch.StartKiloAmperesPerMetre, branch.Steps, branch.StepKiloAmperesPerMetre});
            session.StepIndex = 0;
            if (b == 0 && initial.From == InitialState::Kind::Saturated) {
                if (const auto angle = SaturatedStartAngle(session.StartKiloAmperesPerMetre,
                                                           session.EndKiloAmperesPerMetre, plan.ProjectionAlongY)) {
                    session.Theta.fill(*angle);
                }
            }
            result.BranchRows.push_back(0);
            while (!session.SweepOver() && mayStep()) {
                session.AdvanceField();
                record(static_cast<std::int32_t>(b) + 1, true);
                if (progress) {
                    progress(b, session.StepIndex, session.Steps);
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
            const std::span<const double> values = result[static_cast<Observable>(k)];
            std::copy(values.begin(), values.end(), &simulation.SimTable.At(column, 1));
        }
    }
}

} // namespace sweep
} // namespace dravo2
