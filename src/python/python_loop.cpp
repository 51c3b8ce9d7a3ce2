#include "python/python_loop.h"

#include "data/errors.h"

namespace dravo2::python {

FieldPlan PlanFields(const std::vector<BranchSweep>& branches) {
    FieldPlan plan;
    SweepSession session;
    try {
        for (std::size_t b = 0; b < branches.size(); ++b) {
            const BranchSweep& branch = branches[b];
            session.SetSweep({branch.Start, branch.Steps, branch.Step});
            session.StepIndex = 0;
            if (b == 0) {
                plan.SaturationFrom = session.StartF;
                plan.SaturationTo = session.EndF;
            }
            while (!session.SweepOver()) {
                session.AdvanceField();
                plan.Fields.push_back(session.Model.FieldH);
                plan.Branch.push_back(static_cast<std::int32_t>(b) + 1);
            }
        }
    } catch (const FloatingPointError& error) {
        plan.FieldError = error.what();
    }
    return plan;
}

FieldPlan SequenceFields(std::span<const double> fields) {
    FieldPlan plan;
    plan.Fields.assign(fields.begin(), fields.end());
    std::int32_t branch = 1;
    int direction = 0; // of the present branch: +1 up, -1 down, 0 not yet known
    std::size_t firstEnd = fields.empty() ? 0 : fields.size() - 1;
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
        plan.Branch.push_back(branch);
    }
    if (!fields.empty()) {
        plan.SaturationFrom = fields.front();
        plan.SaturationTo = fields[firstEnd];
    }
    return plan;
}

LoopRows RunFields(const ModelParameters& parameters, const FieldPlan& plan, const InitialState& initial, bool alongY,
                   const std::function<bool()>& stop) {
    LoopRows rows;
    rows.Capacity = plan.Fields.size();
    rows.Cells.assign(kObservableCount * rows.Capacity, 0.0);
    SweepSession session;
    session.SetParameters(parameters);
    session.Theta = initial.Angles;
    session.Generator.RandomState = initial.RandomState;
    if (initial.From == InitialState::Kind::Saturated) {
        if (const auto angle = SaturatedStartAngle(plan.SaturationFrom, plan.SaturationTo, alongY)) {
            session.Theta.fill(*angle);
        }
    }
    try {
        for (std::size_t row = 0; row < plan.Fields.size(); ++row) {
            if (stop && stop()) {
                rows.End = LoopEnd::Stopped;
                break;
            }
            session.Model.FieldH = plan.Fields[row];
            RowCells cells{};
            for (std::size_t k = 0; k < kObservableCount; ++k) {
                cells[k] = rows.Cells.data() + k * rows.Capacity + row;
            }
            rows.Rows = row + 1;
            session.RelaxAndRecord(cells, parameters.DeltaR, alongY);
            rows.Iterations += session.IterationCount;
        }
        if (rows.End == LoopEnd::Completed && !plan.FieldError.empty()) {
            rows.End = LoopEnd::FloatingPointError;
            rows.Error = plan.FieldError;
        }
    } catch (const FloatingPointError& error) {
        rows.End = LoopEnd::FloatingPointError;
        rows.Error = error.what();
    }
    rows.Branch.assign(plan.Branch.begin(), plan.Branch.begin() + static_cast<std::ptrdiff_t>(rows.Rows));
    return rows;
}

} // namespace dravo2::python
