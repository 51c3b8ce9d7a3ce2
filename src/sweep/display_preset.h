#pragma once

#include "engine/sweep_session.h"
#include "plot/plot.h"
#include "plot/world_bounds.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dravo2 {
inline namespace sweep {

// The six display-mode buttons; exactly one is checked.
enum class DisplayMode { MvHx, MvHy, MvHz, ThetaTheta, DeltaR, Fmr };

// What a display-mode preset asks of the plot after it set the range and the angles.
struct DisplayPreset {
    bool Applied = false;                     // false for "M vs Hz": no preset, the plot is not cleared
    bool DrawExperiment = false;              // draw the experimental curve after clearing the plot
    std::optional<PointStyle> SweepPointType; // point type of the sweep's own points
};

// The live-point and display columns of a mode, (x, y); none for "M vs Hz".
std::optional<std::array<std::int32_t, 2>> DisplayColumnsFor(DisplayMode mode);

// Start's display-mode preset: the plot's columns and range and the session's starting angles.
// The field range runs from the sweep's start to its end field, in A/m; "M vs Hx" and "M vs Hy" widen the y range by
// the saturated projections; "DeltaR" reads `deltaRText` for its y range.
DisplayPreset PresetDisplayMode(SweepSession& session, DisplayMode mode, WorldBounds& range, std::int32_t& simXCol,
                                std::int32_t& simYCol, std::string_view deltaRText, char separator);

// Start's check of the fresh window's plot for a loop run without one: the display mode's
// preset range must map onto the canvas (a range of no height, as "DeltaR" gives for an
// amplitude of 0, does not). Throws the floating-point error Start would.
void CheckStartPlot(const ModelParameters& parameters, const BranchSweep& first, DisplayMode mode,
                    std::string_view deltaRText);

} // namespace sweep
} // namespace dravo2
