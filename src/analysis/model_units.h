#pragma once

#include "analysis/misfit.h"

#include <vector>

namespace dravo2 {
inline namespace analysis {

// A measured curve in the simulated projection's units (T): the fitted scale and background of its
// comparison taken out, M_j = (y_j - b H_j - c) / s times the saturation projection, so that it
// lies on the simulated curve wherever the two agree.
struct ModelUnitsCurve {
    std::vector<double> Field; // A/m, every measured point in order
    std::vector<double> Value; // T
    // M_j minus the simulated projection at H_j on the first simulated branch of the measured
    // point's direction that covers it (T); NaN where no such branch covers the point.
    std::vector<double> Residual;
};

// The measured curve of a valid comparison in model units; empty when the comparison is not
// valid, its scale is 0 or the saturation projection is not above 0.
ModelUnitsCurve MeasuredInModelUnits(const CurveView& measured, const CurveView& simulated, const MisfitResult& misfit,
                                     double saturation);

} // namespace analysis
} // namespace dravo2
