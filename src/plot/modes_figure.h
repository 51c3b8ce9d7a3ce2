#pragma once

#include "data/data_table.h"
#include "plot/figure.h"

#include <array>
#include <vector>

namespace dravo2 {
inline namespace plot {

// The figure of every resonance mode against the field: each mode of each simulated branch (split
// at the field's direction flips) as a line, solid down and dashed up, broken where the mode does
// not exist and where the field jumps (FieldJump). `modes` holds the frequencies of rows 1..SimRows in Hz (NaN for
// none); fields are shown in kA/m and frequencies in GHz, with round ticks covering every point drawn.
FigureDescription BuildModesFigure(const SimulationData& simulation, const std::vector<std::array<double, 4>>& modes);

} // namespace plot
} // namespace dravo2
