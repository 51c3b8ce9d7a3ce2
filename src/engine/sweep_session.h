#pragma once

#include "data/data_table.h"
#include "engine/layer_model.h"
#include "engine/random_generator.h"
#include "engine/relaxation.h"

#include <cstdint>

namespace dravo2 {

// Whether a step recorded its row.
enum class StepOutcome {
    Recorded,
    TableFull, // the table holds MaxRows rows already; nothing was recorded
};

// The field sweep in kA/m: from StartF in Nstep steps of StepF, ending at EndF.
struct SweepRange {
    double StartF = 0;
    std::int32_t Nstep = 0;
    double StepF = 0;
};

// The numeric state of the sweep for the whole run: the layer model, the angles, the solver
// settings, the generator and the sweep state. A fresh session is the program's start state.
// A session holds no text and draws nothing; one session belongs to one thread at a time.
class SweepSession {
public:
    LayerModel Model;
    AngleSet Theta{};
    SolverSettings Solver;
    RandomGenerator Generator;
    AngleSet Grad{};

    double StartF = 0; // kA/m
    double StepF = 0;  // kA/m
    double EndF = 0;   // kA/m
    std::int32_t Nstep = 0;
    std::int32_t StepIndex = 0;
    std::int32_t IterationCount = 0;
    double MagProj = 0;
    Real CurrentEnergy = 0;

    // The engine defaults of the window's creation before the sweep fields are taken: noise,
    // field and results at 0, no anisotropy, field angle 0.
    void CreationDefaults();

    // The creation threshold and budget, taken after the sweep fields.
    void CreationSolverDefaults();

    // Start, first part: the row count and the step counter reset.
    void BeginStart(SimulationData& simulation);

    // New sweep settings, then EndF = Nstep x StepF + StartF.
    void SetSweep(const SweepRange& range);

    // EndF from the present StartF, Nstep and StepF.
    void ComputeEndF();

    // Reverse: negates the initial field and the step, recomputes EndF and resets the step
    // counter. Returns the new initial field and step.
    SweepRange Reverse();

    // One sweep step: field, row, relaxation, projection (on y with alongY), energy and the
    // eight columns of the new row; `deltaR` is the magnetoresistance amplitude. Floating-point
    // errors propagate with the columns written so far kept.
    StepOutcome Step(SimulationData& simulation, Real deltaR, bool alongY);

    bool SweepOver() const { return StepIndex >= Nstep; }
};

} // namespace dravo2
