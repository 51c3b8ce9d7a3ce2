#include "sweep/sweep_driver.h"

#include "data/errors.h"
#include "data/number_text.h"

namespace dravo2 {
inline namespace sweep {

std::string FinalFieldCaption(double endF, int digits, char separator) {
    return "fin. field: " + GeneralNumberText(endF, digits, separator) + " kA/m";
}

SweepDriver::SweepDriver(char separator) : Separator(separator) {}

void SweepDriver::Create(const SweepFieldTexts& fields) {
    Running = false;
    PlotState->CreationDefaults();
    Simulation->ClearSimTable();
    Session.CreationDefaults();
    ConvertSweepFields(Session, fields, Separator);
    Session.CreationSolverDefaults();
}

DisplayPreset SweepDriver::Start(const SweepParameters& parameters, DisplayMode mode, const ExperimentData* experiment,
                                 const std::function<void()>& afterIntake) {
    Running = false;
    Session.BeginStart(*Simulation);
    WorldBounds& range = PlotState->Range.Bounds;
    range.MinY = -0.01;
    range.MaxY = 0.01;
    TakeParameters(Session, parameters.Texts, Separator);
    if (afterIntake) {
        afterIntake();
    }
    const DisplayPreset preset =
        PresetDisplayMode(Session, mode, range, PlotState->SimXCol, PlotState->SimYCol, parameters.DeltaR, Separator);
    if (preset.Applied) {
        PlotState->ClearScreen(parameters.PointStyleItem, Separator);
        if (preset.DrawExperiment && experiment != nullptr && experiment->ExpRows > 0) {
            PlotState->ReplotData(experiment->ExpTable.Column(PlotState->ExpXCol),
                                  experiment->ExpTable.Column(PlotState->ExpYCol), experiment->ExpRows);
        }
        if (preset.SweepPointType) {
            PlotState->PointType = *preset.SweepPointType;
        }
    }
    Running = true;
    return preset;
}

TickResult SweepDriver::Tick(std::string_view deltaRText, DisplayMode mode) {
    Recorded = false;
    if (Simulation->SimRows >= MaxRows) {
        Running = false;
        return TickResult::TableFull;
    }
    ClearFloatingPointFlags();
    if (DeltaRSeparator != Separator || deltaRText != DeltaRText) {
        DeltaR = TextToReal(deltaRText, Separator);
        DeltaRText = deltaRText;
        DeltaRSeparator = Separator;
    }
    Session.Step(*Simulation, DeltaR, mode == DisplayMode::MvHy);
    Recorded = true;
    if (const auto columns = DisplayColumnsFor(mode)) {
        PlotState->ShowColumns(*columns);
    }
    PlotState->PlotLivePoint(*Simulation);
    if (Session.SweepOver()) {
        Running = false;
        return TickResult::Ended;
    }
    if (Simulation->SimRows >= MaxRows) {
        Running = false;
        return TickResult::TableFull;
    }
    return TickResult::Continue;
}

SweepFieldTexts SweepDriver::Reverse() {
    const SweepRange reversed = Session.Reverse();
    SweepFieldTexts texts{SweepFieldText(reversed.StartKiloAmperesPerMetre, Separator),
                          {},
                          SweepFieldText(reversed.StepKiloAmperesPerMetre, Separator)};
    // The rewritten fields are what the sweep continues from: the values as their texts give them.
    Session.StartKiloAmperesPerMetre = TextToDouble(texts.StartF, Separator);
    Session.StepKiloAmperesPerMetre = TextToDouble(texts.StepF, Separator);
    Session.ComputeEnd();
    Running = true;
    return texts;
}

} // namespace sweep
} // namespace dravo2
