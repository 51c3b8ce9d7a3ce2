#pragma once

#include "engine/layer_model.h"
#include "engine/physical_constants.h"
#include "engine/relaxation.h"

#include <cstdint>

namespace dravo2 {
inline namespace engine {

// Everything a loop's physics depends on, in numbers: the layer stack (T, m, J/m^3, rad, J/m^2),
// the field's direction (rad), the relaxation's settings and the magnetoresistance amplitude
// that scales the recorded DeltaR. The field's strength belongs to the sweep plan.
struct ModelParameters {
    LayerStack Stack;
    double FieldAngle = 0; // rad, counterclockwise from +x
    SolverSettings Solver;
    Real DeltaR = 0; // magnetoresistance amplitude, as the DeltaR column gives it at antiparallel layers 1 and 2
    double Gamma = kGyromagneticRatio; // rad/(s T), of the resonance modes
};

// One branch of a field sweep as the window's sweep fields give it: the initial field and the
// step in kA/m and the number of steps; the first row lies one step past Start.
struct BranchSweep {
    double StartKiloAmperesPerMetre = 0;
    double StepKiloAmperesPerMetre = 0;
    std::int32_t Steps = 0;
};

// What the KEY=VALUE words and the window's fields set: the model and the first branch.
struct ParameterSet {
    ModelParameters Model;
    BranchSweep Sweep;
};

} // namespace engine
} // namespace dravo2
