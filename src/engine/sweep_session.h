#pragma once

#include "data/data_table.h"
#include "engine/hessian.h"
#include "engine/layer_model.h"
#include "engine/model_parameters.h"
#include "engine/random_generator.h"
#include "engine/relaxation.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace dravo2 {
inline namespace engine {

// Whether a step recorded its row.
enum class StepOutcome {
    Recorded,
    TableFull, // the table holds MaxRows rows already; nothing was recorded
};

// What a sweep step records, in this order; the first eight are the simulation table's columns
// 1 to 8. An angle is recorded for a layer of thickness above 0 only; the resonance frequency is
// -1 where the formula has no real root.
enum class Observable {
    Field,      // A/m
    Projection, // T, the thickness-weighted magnetisation along x (or y)
    Theta1,     // rad, layer 1 .. layer 4
    Theta2,
    Theta3,
    Theta4,
    Magnetoresistance,  // (1 - cos(theta1 - theta2)) DeltaR / 2
    ResonanceFrequency, // Hz, layer 1
    Energy,             // J/m^2 after the relaxation
    Iterations,         // relaxation iterations of the step
};
inline constexpr std::size_t kObservableCount = 10;

// The observable's name: field, projection, theta1 .. theta4, magnetoresistance, frequency,
// energy, iterations.
std::string_view ObservableName(Observable observable);

// The simulation table's column (1 .. 8) of an observable, or 0 for one the table does not hold.
std::int32_t TableColumn(Observable observable);

// Where a step writes its row: one cell per observable (null for one not kept). A step writes
// each cell as soon as its value is complete, so that a floating-point error leaves the cells of
// the values before it written and the others untouched.
using RowCells = std::array<double*, kObservableCount>;

// The field sweep: from its start in `Steps` steps of its step, both in kA/m.
struct SweepRange {
    double StartKiloAmperesPerMetre = 0;
    std::int32_t Steps = 0;
    double StepKiloAmperesPerMetre = 0;
};

// The numeric state of the sweep for the whole run: the layer model, the angles, the solver
// settings, the generator and the sweep state. A fresh session is the program's start state.
// A session holds no text and draws nothing; one session belongs to one thread at a time.
// Every public function that computes is a door of the engine: it forgets the floating-point
// flags raised before it (by the window's drawing, a dialog, a search library or a host
// program), so that only its own invalid operation, division by zero or overflow is reported.
class SweepSession {
public:
    LayerModel Model;
    AngleSet Theta{};
    SolverSettings Solver;
    RandomGenerator Generator;
    AngleSet Grad{};

    double StartKiloAmperesPerMetre = 0;
    double StepKiloAmperesPerMetre = 0;
    double EndKiloAmperesPerMetre = 0;
    std::int32_t Steps = 0;
    std::int32_t StepIndex = 0;
    std::int32_t IterationCount = 0;
    double Projection = 0;
    Real CurrentEnergy = 0;

    // Newton's energy terms, kept from step to step while the stack and the field's angle stay;
    // nothing in it but what the model's numbers say.
    EnergyCache NewtonEnergy;

    // The model's numbers as the session holds them (the magnetoresistance amplitude, which the
    // session does not hold, is 0), and the session given a model's numbers.
    ModelParameters Parameters() const;
    void SetParameters(const ModelParameters& parameters);

    // The model's starting values, set before the sweep settings: the relaxation's kick noise
    // 0.0005 rad, the field, projection and energy 0, no anisotropy, the field along x.
    void CreationDefaults();

    // The relaxation's starting convergence threshold and iteration budget, set after the sweep
    // settings.
    void CreationSolverDefaults();

    // A new sweep from the initial field: the table's rows and the step counter back to 0.
    void BeginStart(SimulationData& simulation);

    // New sweep settings, then the end field = Steps x step + start.
    void SetSweep(const SweepRange& range);

    // The end field from the present start, step count and step.
    void ComputeEnd();

    // The sweep reversed: negates the initial field and the step, recomputes the end field and
    // resets the step counter. Returns the new initial field and step.
    SweepRange Reverse();

    // One sweep step: field, row, relaxation, projection (on y with alongY), energy and the
    // eight columns of the new row; `deltaR` is the magnetoresistance amplitude. Floating-point
    // errors propagate with the columns written so far kept.
    StepOutcome Step(SimulationData& simulation, Real deltaR, bool alongY);

    // The same step in two parts, for a caller that keeps its rows elsewhere: the step counter
    // advances and the field of the step is set (a field beyond the double range throws before
    // a row is begun); then the angles relax and each observable is written into `cells` as it
    // is complete.
    void AdvanceField();
    void RelaxAndRecord(const RowCells& cells, Real deltaR, bool alongY);

    // RelaxAndRecord straight after AdvanceField, whose test left the flags down, so that they
    // need not be forgotten again.
    void RelaxAndRecordAdvanced(const RowCells& cells, Real deltaR, bool alongY);

    bool SweepOver() const { return StepIndex >= Steps; }
};

} // namespace engine
} // namespace dravo2
