#pragma once

#include "data/data_table.h"
#include "engine/model_parameters.h"
#include "engine/resonance_modes.h"
#include "engine/sweep_session.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dravo2 {

// The branches of a loop, swept one after the other, each continuing from the angles and the
// generator state the one before left; at most MaxRows rows are recorded in all. The projection
// is taken along x, or along y with ProjectionAlongY.
struct LoopPlan {
    std::vector<BranchSweep> Branches;
    std::int32_t MaxRows = dravo2::MaxRows;
    bool ProjectionAlongY = false;
    bool Modes = false; // also record every resonance mode of the stack at each row
};

// Where a loop starts: the four angles and the generator's state. Saturated() gives the angles
// of every layer along the start of the first branch's field (along x, or y for a projection
// along y), as Start's "M vs Hx" and "M vs Hy" presets set them.
struct InitialState {
    enum class Kind { Angles, Saturated };
    Kind From = Kind::Angles;
    AngleSet Angles{}; // rad; with Saturated, the angles kept where no saturated start applies
    std::uint32_t RandomState = 0;

    static InitialState Saturated() { return {Kind::Saturated, {}, 0}; }
};

// The reversal of a branch as Reverse gives it: the initial field and the step negated and
// taken through the 15-digit texts the window's fields are rewritten with.
BranchSweep ReversedBranch(const BranchSweep& branch);

// The angles a saturated start sets for a sweep from startF to endF (kA/m), or none (a flat
// sweep, or a downward sweep projected along y, keeps the angles it has).
std::optional<Real> SaturatedStartAngle(double startF, double endF, bool alongY);

// Why a loop ended.
enum class LoopEnd {
    Completed,          // every branch ran to its last step
    TableFull,          // MaxRows rows were recorded before a further step
    Stopped,            // the stop flag was raised
    FloatingPointError, // a step failed; Error holds the message, its row holds what was complete
};

// The recorded rows: each observable one contiguous array, one value a row.
class LoopResult {
public:
    std::span<const double> operator[](Observable observable) const {
        return Columns[static_cast<std::size_t>(observable)];
    }
    std::int32_t Rows() const { return static_cast<std::int32_t>(Columns[0].size()); }

    std::array<std::vector<double>, kObservableCount> Columns;
    // With LoopPlan::Modes, the resonance modes of each row (ascending, NaN where a mode does not
    // exist, all NaN for a row whose step failed); else empty.
    std::vector<ModeRow> Modes;
    std::vector<std::int32_t> BranchRows; // rows recorded by each branch begun
    std::int64_t Iterations = 0;          // relaxation iterations of every step, summed
    LoopEnd End = LoopEnd::Completed;
    std::string Error;
    AngleSet FinalAngles{};
    std::uint32_t FinalRandomState = 0;
};

// Called after every recorded row with the branch's index, the step just taken and its steps.
using LoopProgress = std::function<void(std::size_t branch, std::int32_t step, std::int32_t steps)>;

// Runs the loop of `plan` on the model from `initial`, checking `stop` before every step.
// Numbers in, numbers out: no text, no drawing. A floating-point error ends the loop with the
// rows so far (the failing row's incomplete values 0).
LoopResult RunLoop(const ModelParameters& parameters, const LoopPlan& plan, const InitialState& initial,
                   const std::atomic<bool>* stop = nullptr, const LoopProgress& progress = {});

// The rows of a result written into the simulation table (columns 1 to 8, rows from 1).
void FillTable(const LoopResult& result, SimulationData& simulation);

} // namespace dravo2
