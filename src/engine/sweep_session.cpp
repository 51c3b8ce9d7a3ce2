#include "engine/sweep_session.h"

#include "engine/newton.h"
#include "engine/physical_constants.h"
#include "engine/step_observables.h"

#include <cmath>
#include <optional>
#include <type_traits>

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
    RelaxAndRecordAdvanced(cells, deltaR, alongY);
    return StepOutcome::Recorded;
}

void SweepSession::AdvanceField() {
    ClearFloatingPointFlags();
    ++StepIndex;
    const Real field =
        (static_cast<Real>(StepIndex) * StepKiloAmperesPerMetre + StartKiloAmperesPerMetre) * kAmperesPerKiloAmpere;
    Model.FieldH = static_cast<double>(field);
    // From a finite start and step, extended arithmetic raises nothing and the store only an
    // overflow, which leaves an infinite field; the flags need testing only then.
    if (!std::isfinite(Model.FieldH) || !std::isfinite(StepKiloAmperesPerMetre) ||
        !std::isfinite(StartKiloAmperesPerMetre)) {
        CheckFloatingPoint(Model.FieldH);
    }
}

namespace {

// The relaxation and the observables of a step, with the tests of `Flags`. False where Newton's
// untested relaxation gave up at a raised flag. The projection and the energy are tested before
// any cell is written; every other value just before its own cell.
template <typename Flags>
bool RelaxAndRecordWith(SweepSession& session, const RowCells& cells, Real deltaR, bool alongY) {
    const LayerModel& model = session.Model;
    auto write = [&cells](Observable observable, double value) {
        if (double* cell = cells[static_cast<std::size_t>(observable)]) {
            *cell = value;
        }
    };

    const bool newton = session.Solver.Method == SolverMethod::Newton;
    if (newton) {
        // The energy's terms first, while the flags are down, as the cache wants them.
        const EnergyDerivatives& energy = session.NewtonEnergy.At(model);
        if constexpr (std::is_same_v<Flags, TestedStep>) {
            KickAngles(session.Theta, session.Solver, session.Generator);
        } else {
            KickAnglesUntested(session.Theta, session.Solver, session.Generator);
        }
        Vector4 sn;
        Vector4 cs;
        if constexpr (std::is_same_v<Flags, TestedStep>) {
            session.IterationCount =
                RelaxKickedNewton(energy, session.Theta, session.Solver, session.Generator, session.Grad, &sn, &cs);
        } else {
            const std::optional<std::int32_t> iterations = RelaxKickedNewtonUntested(
                energy, session.Theta, session.Solver, session.Generator, session.Grad, sn, cs);
            if (!iterations) {
                return false;
            }
            session.IterationCount = *iterations;
        }
        session.Projection = Projection<Flags>(model, alongY ? sn : cs);
        session.CurrentEnergy = Energy<Flags>(energy, sn, cs);
    } else {
        session.IterationCount = RelaxStep(model, session.Theta, session.Solver, session.Generator, session.Grad);
        session.Projection = Projection<Flags>(model, session.Theta, alongY);
        session.CurrentEnergy = Energy<Flags>(model, session.Theta);
    }

    const AngleSet& theta = session.Theta;
    const CosinePrecision cosine = newton ? CosinePrecision::Double : CosinePrecision::Extended;
    write(Observable::Field, model.FieldH);
    write(Observable::Projection, session.Projection);
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (model.Stack.t[i] > 0) {
            write(static_cast<Observable>(static_cast<std::size_t>(Observable::Theta1) + i),
                  LayerAngle<Flags>(theta, i));
        }
    }
    write(Observable::Energy, static_cast<double>(session.CurrentEnergy));
    write(Observable::Iterations, session.IterationCount);
    write(Observable::Magnetoresistance, Magnetoresistance<Flags>(theta, deltaR, cosine));
    write(Observable::ResonanceFrequency, LayerOneResonanceFrequency<Flags>(model, theta, cosine));
    return true;
}

// A Newton step computed without the tests, then the flags tested once: the step's values are
// written and true returned where none is up; else everything the step changed is put back, for
// the step to be taken again with every test, so that an error is reported where it arises with
// the cells before it written.
bool RelaxAndRecordUntested(SweepSession& session, const RowCells& cells, Real deltaR, bool alongY) {
    const AngleSet theta = session.Theta;
    const AngleSet grad = session.Grad;
    const std::uint32_t random = session.Generator.RandomState;
    const std::int32_t iterations = session.IterationCount;
    const double projection = session.Projection;
    const Real energy = session.CurrentEnergy;

    std::array<double, kObservableCount> values{};
    RowCells local{};
    for (std::size_t k = 0; k < kObservableCount; ++k) {
        local[k] = cells[k] != nullptr ? &values[k] : nullptr;
    }
    if (RelaxAndRecordWith<UntestedStep>(session, local, deltaR, alongY) && std::fetestexcept(kTrappedFlags) == 0) {
        for (std::size_t k = 0; k < kObservableCount; ++k) {
            if (cells[k] != nullptr) {
                *cells[k] = values[k];
            }
        }
        return true;
    }
    std::feclearexcept(kTrappedFlags);
    session.Theta = theta;
    session.Grad = grad;
    session.Generator.RandomState = random;
    session.IterationCount = iterations;
    session.Projection = projection;
    session.CurrentEnergy = energy;
    return false;
}

} // namespace

void SweepSession::RelaxAndRecord(const RowCells& cells, Real deltaR, bool alongY) {
    ClearFloatingPointFlags();
    RelaxAndRecordAdvanced(cells, deltaR, alongY);
}

void SweepSession::RelaxAndRecordAdvanced(const RowCells& cells, Real deltaR, bool alongY) {
    if (Solver.Method == SolverMethod::Newton && RelaxAndRecordUntested(*this, cells, deltaR, alongY)) {
        return;
    }
    RelaxAndRecordWith<TestedStep>(*this, cells, deltaR, alongY);
}

} // namespace engine
} // namespace dravo2
