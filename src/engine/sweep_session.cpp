#include "engine/sweep_session.h"

#include "engine/newton.h"
#include "engine/physical_constants.h"

#include <cmath>

namespace dravo2 {
inline namespace engine {

void SweepSession::CreationDefaults() {
    ClearFloatingPointFlags();
    Solver.NoiseRadians = 0.0005;
    Model.FieldH = 0;
    Projection = 0;
    CurrentEnergy = 0;
    Model.Stack.Anisotropy = AnisotropyForm::None;
    Model.FieldAngle = 0;
}

void SweepSession::CreationSolverDefaults() {
    Solver.ConvergenceThreshold = 2e-10L;
    Solver.IterationBudget = 66599;
}

void SweepSession::BeginStart(SimulationData& simulation) {
    simulation.SimRows = 0;
    StepIndex = 0;
}

void SweepSession::ComputeEnd() {
    ClearFloatingPointFlags();
    EndKiloAmperesPerMetre = StoreDouble(static_cast<Real>(Steps) * StepKiloAmperesPerMetre + StartKiloAmperesPerMetre);
}

void SweepSession::SetSweep(const SweepRange& range) {
    StartKiloAmperesPerMetre = range.StartKiloAmperesPerMetre;
    Steps = range.Steps;
    StepKiloAmperesPerMetre = range.StepKiloAmperesPerMetre;
    ComputeEnd();
}

SweepRange SweepSession::Reverse() {
    ClearFloatingPointFlags();
    StartKiloAmperesPerMetre = -StartKiloAmperesPerMetre;
    StepKiloAmperesPerMetre = -StepKiloAmperesPerMetre;
    ComputeEnd();
    StepIndex = 0;
    return {StartKiloAmperesPerMetre, Steps, StepKiloAmperesPerMetre};
}

std::string_view ObservableName(Observable observable) {
    constexpr std::array<std::string_view, kObservableCount> names{
        "field",  "projection",        "theta1",    "theta2", "theta3",
        "theta4", "magnetoresistance", "frequency", "energy", "iterations"};
    return names[static_cast<std::size_t>(observable)];
}

std::int32_t TableColumn(Observable observable) {
    const auto index = static_cast<std::int32_t>(observable);
    return index < 8 ? index + 1 : 0;
}

ModelParameters SweepSession::Parameters() const {
    ModelParameters parameters;
    parameters.Stack = Model.Stack;
    parameters.FieldAngle = Model.FieldAngle;
    parameters.Solver = Solver;
    return parameters;
}

void SweepSession::SetParameters(const ModelParameters& parameters) {
    Model.Stack = parameters.Stack;
    Model.FieldAngle = parameters.FieldAngle;
    Solver = parameters.Solver;
}

StepOutcome SweepSession::Step(SimulationData& simulation, Real deltaR, bool alongY) {
    if (simulation.SimRows >= MaxRows) {
        return StepOutcome::TableFull;
    }
    AdvanceField();
    ++simulation.SimRows;
    RowCells cells{};
    for (std::size_t k = 0; k < kObservableCount; ++k) {
        if (const std::int32_t column = TableColumn(static_cast<Observable>(k))) {
            cells[k] = &simulation.SimTable.At(column, simulation.SimRows);
        }
    }
    RelaxAndRecord(cells, deltaR, alongY);
    return StepOutcome::Recorded;
}

void SweepSession::AdvanceField() {
    ClearFloatingPointFlags();
    ++StepIndex;
    Model.FieldH = StoreDouble((static_cast<Real>(StepIndex) * StepKiloAmperesPerMetre + StartKiloAmperesPerMetre) *
                               kAmperesPerKiloAmpere);
}

void SweepSession::RelaxAndRecord(const RowCells& cells, Real deltaR, bool alongY) {
    ClearFloatingPointFlags();
    const LayerStack& s = Model.Stack;
    auto write = [&cells](Observable observable, double value) {
        if (double* cell = cells[static_cast<std::size_t>(observable)]) {
            *cell = value;
        }
    };

    // Newton's angles and energies are doubles, and so are the sines and cosines of its
    // observables; the descent's are formed in extended precision.
    const bool newton = Solver.Method == SolverMethod::Newton;
    const auto cosine = [newton](Real x) -> Real {
        return newton ? static_cast<Real>(std::cos(static_cast<double>(x))) : std::cos(x);
    };
    if (newton) {
        KickAngles(Theta, Solver, Generator);
        const EnergyDerivatives energy(Model);
        Vector4 sn;
        Vector4 cs;
        IterationCount = RelaxKickedNewton(energy, Theta, Solver, Generator, Grad, &sn, &cs);
        Projection = Model.MagnetisationProjection(alongY ? sn : cs);
        CheckFloatingPoint(Projection);
        CurrentEnergy = energy.Energy(sn, cs);
    } else {
        IterationCount = RelaxStep(Model, Theta, Solver, Generator, Grad);
        Projection = Model.MagnetisationProjection(Theta, alongY);
        CheckFloatingPoint(Projection);
        CurrentEnergy = Model.Energy(Theta);
    }
    CheckFloatingPoint(CurrentEnergy);

    write(Observable::Field, Model.FieldH);
    write(Observable::Projection, Projection);
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (s.t[i] > 0) {
            write(static_cast<Observable>(static_cast<std::size_t>(Observable::Theta1) + i), StoreDouble(Theta[i]));
        }
    }
    write(Observable::Energy, static_cast<double>(CurrentEnergy));
    write(Observable::Iterations, IterationCount);

    write(Observable::Magnetoresistance, StoreDouble((1 - cosine(Theta[0] - Theta[1])) * deltaR / 2));

    // Resonance of layer 1 with the field taken along x and the uniaxial form of the anisotropy.
    const Real h = Model.FieldH;
    const Real a = cosine(Theta[0]) * s.M[0] * h;
    const Real b = a + 2 * s.K[0] * cosine(2 * (Theta[0] - s.Alpha[0])) + s.J[0] * cosine(Theta[0] - Theta[1]) / s.t[0];
    CheckFloatingPoint(b);
    const Real axisCos = cosine(Theta[0] - s.Alpha[0]);
    const Real m2 = s.M[0] * s.M[0];
    const Real c = a + (2 * s.K[0]) * (axisCos * axisCos) + kInverseMu0Rounded * m2;
    CheckFloatingPoint(c);
    const double radicand = StoreDouble(b * c / (m2 * kInverseMu0Rounded * kInverseMu0Rounded));
    write(Observable::ResonanceFrequency,
          radicand >= 0 ? StoreDouble(std::sqrt(static_cast<Real>(radicand)) * kGyromagneticRatio / (2 * kPi)) : -1.0);
}

} // namespace engine
} // namespace dravo2
