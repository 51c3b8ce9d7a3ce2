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
#include <utility>
#include <vector>

namespace dravo2 {
inline namespace sweep {

// The branches of a loop, swept one after the other, each continuing from the angles and the
// generator state the one before left; at most MaxRows rows are recorded in all. The projection
// is taken along x, or along y with ProjectionAlongY.
// Fields, when not empty, gives the field of every row instead (A/m): a new branch begins after
// each point where the field turns, a step without change stays in its branch, and the first
// branch's first and last fields decide a saturated start.
struct LoopPlan {
    std::vector<BranchSweep> Branches;
    std::vector<double> Fields;
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

// The recorded rows in one block: a column of Capacity values per observable, in the order of
// Observable, so that each observable, and neighbouring ones together (the four angles), can be
// viewed in place with a column stride of Capacity values.
class LoopResult {
public:
    std::span<const double> operator[](Observable observable) const { return {Column(observable), Branch.size()}; }
    std::int32_t Rows() const { return static_cast<std::int32_t>(Branch.size()); }
    const double* Column(Observable observable) const {
        return Block.data() + static_cast<std::size_t>(observable) * Capacity;
    }
    double* Column(Observable observable) { return Block.data() + static_cast<std::size_t>(observable) * Capacity; }

    std::vector<double> Block; // kObservableCount x Capacity values
    std::size_t Capacity = 0;
    std::vector<std::int32_t> Branch; // the branch of each row, from 1 as the table numbers them
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

// Called after every recorded row with the branch's index, the step just taken and its steps
// (with LoopPlan::Fields: the row and the number of fields).
using LoopProgress = std::function<void(std::size_t branch, std::int32_t step, std::int32_t steps)>;

// Asked before every step whether the loop is to end: a flag another thread raises, or a
// question (a host program's interrupt), or neither.
class LoopStop {
public:
    LoopStop(const std::atomic<bool>* flag = nullptr) : Flag(flag) {} // NOLINT: a flag converts
    explicit LoopStop(std::function<bool()> ask) : Ask(std::move(ask)) {}

    bool operator()() const { return (Flag != nullptr && Flag->load(std::memory_order_relaxed)) || (Ask && Ask()); }

private:
    const std::atomic<bool>* Flag = nullptr;
    std::function<bool()> Ask;
};

// Runs the loop of `plan` on the model from `initial`, checking `stop` before every step.
// Numbers in, numbers out: no text, no drawing. A floating-point error ends the loop with the
// rows so far (the failing row's incomplete values 0).
LoopResult RunLoop(const ModelParameters& parameters, const LoopPlan& plan, const InitialState& initial,
                   const LoopStop& stop = {}, const LoopProgress& progress = {});

// The rows of a result written into the simulation table (columns 1 to 8, rows from 1).
void FillTable(const LoopResult& result, SimulationData& simulation);

} // namespace sweep
} // namespace dravo2
