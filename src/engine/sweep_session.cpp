#include "engine/sweep_session.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <cmath>

namespace dravo2 {
namespace {

Real DegreesToRadians(int degrees) {
    return static_cast<Real>(degrees) * kPi / 180;
}

} // namespace

std::optional<std::array<std::int32_t, 2>> DisplayColumnsFor(DisplayMode mode) {
    switch (mode) {
    case DisplayMode::MvHx:
    case DisplayMode::MvHy:
        return std::array<std::int32_t, 2>{1, 2};
    case DisplayMode::ThetaTheta:
        return std::array<std::int32_t, 2>{2, 3};
    case DisplayMode::DeltaR:
        return std::array<std::int32_t, 2>{1, 7};
    case DisplayMode::Fmr:
        return std::array<std::int32_t, 2>{1, 8};
    case DisplayMode::MvHz:
        break;
    }
    return std::nullopt;
}

std::string& PlainSweepFields::Slot(SweepField field) const {
    switch (field) {
    case SweepField::Start:
        return Texts.StartF;
    case SweepField::Nstep:
        return Texts.Nstep;
    case SweepField::Step:
        break;
    }
    return Texts.StepF;
}

void PlainSweepFields::SetText(SweepField field, const std::string& text) {
    if (Slot(field) == text) {
        return;
    }
    Slot(field) = text;
    Session.TakeSweepFields(*this, Separator);
}

std::string FinalFieldCaption(double endF, int digits, char separator) {
    return "fin. field: " + GeneralNumberText(endF, digits, separator) + " kA/m";
}

void SweepSession::CreationDefaults(const SweepFieldAccess& fields, char separator) {
    ClearFloatingPointFlags();
    Solver.Ramp = 0.0005;
    Model.FieldH = 0;
    Model.Hx = 0;
    Model.Hy = 0;
    MagProj = 0;
    CurrentEnergy = 0;
    Model.Stack.AnisoMode = kNoAnisotropy;
    Model.FieldAngle = 0;
    StartF = TextToDouble(fields.Text(SweepField::Start), separator);
    Nstep = TextToInteger(fields.Text(SweepField::Nstep));
    StepF = TextToDouble(fields.Text(SweepField::Step), separator);
    Solver.Conv = 2e-10L;
    Solver.MaxIter = 66599;
}

void SweepSession::BeginStart(SimulationData& simulation, WorldBounds& range) {
    simulation.SimRows = 0;
    StepIndex = 0;
    range.MinY = -0.01;
    range.MaxY = 0.01;
}

void SweepSession::ComputeEndF() {
    EndF = StoreDouble(static_cast<Real>(Nstep) * StepF + StartF);
}

void SweepSession::TakeParameters(const ParameterTexts& texts, char separator) {
    ClearFloatingPointFlags();
    LayerStack& s = Model.Stack;
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.M[i] = TextToReal(texts.M[i], separator);
    }
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.t[i] = TextToReal(texts.t[i], separator);
    }
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.K[i] = TextToReal(texts.K[i], separator);
    }
    s.J[0] = TextToReal(texts.J1, separator);
    s.J2[0] = TextToReal(texts.J2_1, separator);
    s.J[1] = TextToReal(texts.J2, separator);
    s.J2[1] = TextToReal(texts.J2_2, separator);
    s.J[2] = TextToReal(texts.J3, separator);
    s.J2[2] = 0;
    s.J[3] = 0;
    s.J2[3] = 0;
    s.Bias = TextToDouble(texts.Bias, separator);
    Solver.Ramp = TextToDouble(texts.Ramp, separator);
    Solver.Conv = TextToReal(texts.Conv, separator);
    Solver.MaxIter = TextToInteger(texts.MaxIter);
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.Alpha[i] = DegreesToRadians(texts.AxisDegrees[i]);
    }
    Model.FieldAngle = static_cast<double>(DegreesToRadians(texts.FieldAngleDegrees));
    s.AnisoMode = texts.UniaxialChecked ? kUniaxial : (texts.QuarticChecked ? kQuartic : kNoAnisotropy);
    StartF = TextToDouble(texts.StartF, separator);
    Nstep = TextToInteger(texts.Nstep);
    StepF = TextToDouble(texts.StepF, separator);
    ComputeEndF();
}

DisplayPreset SweepSession::PresetDisplayMode(DisplayMode mode, WorldBounds& range, std::int32_t& simXCol,
                                              std::int32_t& simYCol, std::string_view deltaRText, char separator) {
    ClearFloatingPointFlags();
    DisplayPreset preset;
    const bool upward = StartF < EndF;
    const bool downward = StartF > EndF;
    auto fieldSpan = [&] {
        if (upward) {
            range.MinX = StartF * 1000;
            range.MaxX = EndF * 1000;
        } else if (downward) {
            range.MinX = EndF * 1000;
            range.MaxX = StartF * 1000;
        }
        CheckFloatingPoint(range);
    };
    auto allAngles = [this](Real angle) { Theta.fill(angle); };
    const bool alongY = mode == DisplayMode::MvHy;

    switch (mode) {
    case DisplayMode::ThetaTheta:
        simXCol = 2;
        simYCol = 3;
        range.MinX = static_cast<double>(-kTwoPi);
        range.MaxX = static_cast<double>(kTwoPi);
        range.MinY = static_cast<double>(-kTwoPi);
        range.MaxY = static_cast<double>(kTwoPi);
        preset.SweepPointType = 3;
        break;
    case DisplayMode::Fmr:
        simXCol = 1;
        simYCol = 8;
        fieldSpan();
        range.MinY = -1;
        range.MaxY = 1e10;
        preset.DrawExperiment = true;
        preset.SweepPointType = 1;
        break;
    case DisplayMode::DeltaR:
        fieldSpan();
        range.MinY = 0;
        range.MaxY = TextToDouble(deltaRText, separator);
        break;
    case DisplayMode::MvHx:
    case DisplayMode::MvHy: {
        simXCol = 1;
        simYCol = 2;
        if (!upward && !downward) {
            range.MaxX = 1;
        } else {
            fieldSpan();
        }
        const Real up = alongY ? kPi / 2 : 0;
        const Real down = alongY ? -kPi / 2 : -kPi;
        if (upward) {
            allAngles(up);
            range.MaxY = range.MaxY + Model.MagnetisationProjection(Theta, alongY);
            allAngles(down);
            range.MinY = range.MinY + Model.MagnetisationProjection(Theta, alongY);
        } else if (downward && !alongY) {
            allAngles(down);
            range.MinY = range.MinY + Model.MagnetisationProjection(Theta, alongY);
            allAngles(up);
            range.MaxY = range.MaxY + Model.MagnetisationProjection(Theta, alongY);
        } else if (downward) {
            range.MinY = StoreDouble(-0.01L - Model.Stack.M[0]);
            range.MaxY = StoreDouble(Model.Stack.M[0] + 0.01L);
        }
        CheckFloatingPoint(range);
        preset.DrawExperiment = true;
        preset.SweepPointType = 2;
        break;
    }
    case DisplayMode::MvHz:
        return preset;
    }
    preset.Applied = true;
    return preset;
}

void SweepSession::TakeSweepFields(const SweepFieldAccess& fields, char separator) {
    ClearFloatingPointFlags();
    StartF = TextToDouble(fields.Text(SweepField::Start), separator);
    Nstep = TextToInteger(fields.Text(SweepField::Nstep));
    StepF = TextToDouble(fields.Text(SweepField::Step), separator);
    ComputeEndF();
}

void SweepSession::Reverse(SweepFieldAccess& fields, char separator) {
    ClearFloatingPointFlags();
    StartF = -TextToDouble(fields.Text(SweepField::Start), separator);
    fields.SetText(SweepField::Start, GeneralNumberText(StartF, 15, separator));
    StepF = -TextToDouble(fields.Text(SweepField::Step), separator);
    fields.SetText(SweepField::Step, GeneralNumberText(StepF, 15, separator));
    ComputeEndF();
    StepIndex = 0;
}

StepOutcome SweepSession::Step(SimulationData& simulation, std::string_view deltaRText, char separator, bool alongY) {
    if (simulation.SimRows >= MaxRows) {
        return StepOutcome::TableFull;
    }
    ClearFloatingPointFlags();
    const LayerStack& s = Model.Stack;
    DataTable& table = simulation.SimTable;

    ++StepIndex;
    Model.FieldH = StoreDouble((static_cast<Real>(StepIndex) * StepF + StartF) * 1000);
    ++simulation.SimRows;
    const std::int32_t row = simulation.SimRows;

    IterationCount = RelaxStep(Model, Theta, Solver, Generator, Grad);
    MagProj = Model.MagnetisationProjection(Theta, alongY);
    CheckFloatingPoint(MagProj);
    CurrentEnergy = Model.Energy(Theta);
    CheckFloatingPoint(CurrentEnergy);

    table.At(1, row) = Model.FieldH;
    table.At(2, row) = MagProj;
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (s.t[i] > 0) {
            table.At(static_cast<std::int32_t>(3 + i), row) = StoreDouble(Theta[i]);
        }
    }

    const Real deltaR = TextToReal(deltaRText, separator);
    table.At(7, row) = StoreDouble((1 - std::cos(Theta[0] - Theta[1])) * deltaR / 2);

    // Resonance of layer 1 with the field taken along x and the uniaxial form of the anisotropy.
    const Real h = Model.FieldH;
    const Real a = std::cos(Theta[0]) * s.M[0] * h;
    const Real b =
        a + 2 * s.K[0] * std::cos(2 * (Theta[0] - s.Alpha[0])) + s.J[0] * std::cos(Theta[0] - Theta[1]) / s.t[0];
    CheckFloatingPoint(b);
    const Real axisCos = std::cos(Theta[0] - s.Alpha[0]);
    const Real m2 = s.M[0] * s.M[0];
    const Real c = a + (2 * s.K[0]) * (axisCos * axisCos) + 800000 * m2;
    CheckFloatingPoint(c);
    const double radicand = StoreDouble(b * c / (m2 * 800000 * 800000));
    table.At(8, row) =
        radicand >= 0 ? StoreDouble(std::sqrt(static_cast<Real>(radicand)) * 1.76e11L / (2 * kPi)) : -1.0;
    return StepOutcome::Recorded;
}

} // namespace dravo2
