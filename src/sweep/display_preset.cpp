#include "sweep/display_preset.h"

#include "data/number_text.h"
#include "engine/physical_constants.h"
#include "sweep/run_loop.h"

namespace dravo2 {
inline namespace sweep {

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

DisplayPreset PresetDisplayMode(SweepSession& session, DisplayMode mode, WorldBounds& range, std::int32_t& simXCol,
                                std::int32_t& simYCol, std::string_view deltaRText, char separator) {
    ClearFloatingPointFlags();
    DisplayPreset preset;
    const double startF = session.StartKiloAmperesPerMetre;
    const double endF = session.EndKiloAmperesPerMetre;
    const bool upward = startF < endF;
    const bool downward = startF > endF;
    auto fieldSpan = [&] {
        if (upward) {
            range.MinX = startF * kAmperesPerKiloAmpere;
            range.MaxX = endF * kAmperesPerKiloAmpere;
        } else if (downward) {
            range.MinX = endF * kAmperesPerKiloAmpere;
            range.MaxX = startF * kAmperesPerKiloAmpere;
        }
        CheckFloatingPoint(range);
    };
    const LayerModel& model = session.Model;
    const bool alongY = mode == DisplayMode::MvHy;

    switch (mode) {
    case DisplayMode::ThetaTheta:
        simXCol = 2;
        simYCol = 3;
        range.MinX = static_cast<double>(-kTwoPi);
        range.MaxX = static_cast<double>(kTwoPi);
        range.MinY = static_cast<double>(-kTwoPi);
        range.MaxY = static_cast<double>(kTwoPi);
        preset.SweepPointType = PointStyle::Cross;
        break;
    case DisplayMode::Fmr:
        simXCol = 1;
        simYCol = 8;
        fieldSpan();
        range.MinY = -1;
        range.MaxY = 1e10;
        preset.DrawExperiment = true;
        preset.SweepPointType = PointStyle::Dot;
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
        if (upward || (downward && !alongY)) {
            // The range spans the projections saturated either way; the sweep starts saturated
            // along its initial field.
            session.Theta.fill(alongY ? kPi / 2 : 0);
            range.MaxY = range.MaxY + model.MagnetisationProjection(session.Theta, alongY);
            session.Theta.fill(alongY ? -kPi / 2 : -kPi);
            range.MinY = range.MinY + model.MagnetisationProjection(session.Theta, alongY);
            session.Theta.fill(*SaturatedStartAngle(startF, endF, alongY));
        } else if (downward) {
            range.MinY = StoreDouble(-0.01L - model.Stack.M[0]);
            range.MaxY = StoreDouble(model.Stack.M[0] + 0.01L);
        }
        CheckFloatingPoint(range);
        preset.DrawExperiment = true;
        preset.SweepPointType = PointStyle::SolidLine;
        break;
    }
    case DisplayMode::MvHz:
        return preset;
    }
    preset.Applied = true;
    return preset;
}

void CheckStartPlot(const ModelParameters& parameters, const BranchSweep& first, DisplayMode mode,
                    std::string_view deltaRText) {
    SweepSession session;
    session.SetParameters(parameters);
    session.SetSweep({first.StartKiloAmperesPerMetre, first.Steps, first.StepKiloAmperesPerMetre});
    Plot plot;
    plot.CreationDefaults();
    WorldBounds& range = plot.Range.Bounds;
    range.MinY = -0.01;
    range.MaxY = 0.01;
    if (PresetDisplayMode(session, mode, range, plot.SimXCol, plot.SimYCol, deltaRText, '.').Applied) {
        plot.ClearScreen(kCrossPointItem, '.');
    }
}

} // namespace sweep
} // namespace dravo2
