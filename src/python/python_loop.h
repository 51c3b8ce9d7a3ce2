#pragma once

#include "engine/model_parameters.h"
#include "engine/sweep_session.h"
#include "sweep/run_loop.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace dravo2::python {

// The field of every row of a loop (A/m) with the branch the row belongs to (from 1,
// as the CSV table numbers them), and the
// two fields whose order decides the saturated start: the first branch's start and end.
struct FieldPlan {
    std::vector<double> Fields;
    std::vector<std::int32_t> Branch;
    double SaturationFrom = 0;
    double SaturationTo = 0;
    std::string FieldError; // a field step that could not be formed ended the plan before it
};

// The rows of `branches` as the loop runner steps them: each branch from one step past its start
// (kA/m), the field of each step formed as the sweep forms it.
FieldPlan PlanFields(const std::vector<BranchSweep>& branches);

// The rows of any field sequence (A/m): a new branch begins after each point where the field
// turns; a step without change stays in its branch.
FieldPlan SequenceFields(std::span<const double> fields);

// A loop's rows in one block, one column of Capacity values per observable, so that every
// observable, and the four angles together, can be viewed in place.
struct LoopRows {
    std::vector<double> Cells;
    std::size_t Capacity = 0;
    std::size_t Rows = 0;
    std::vector<std::int32_t> Branch;
    std::int64_t Iterations = 0;
    LoopEnd End = LoopEnd::Completed;
    std::string Error;

    double* Column(Observable observable) { return Cells.data() + static_cast<std::size_t>(observable) * Capacity; }
    const double* Column(Observable observable) const {
        return Cells.data() + static_cast<std::size_t>(observable) * Capacity;
    }
};

// Relaxes the model at every field of `plan` in turn, from `initial`, on a fresh session: the
// same steps as RunLoop takes for the same branches. `stop` is asked before every step; once it
// says so the loop ends with the rows so far. A floating-point error ends the loop with the rows
// so far (the failing row's incomplete values 0).
LoopRows RunFields(const ModelParameters& parameters, const FieldPlan& plan, const InitialState& initial, bool alongY,
                   const std::function<bool()>& stop = {});

} // namespace dravo2::python
