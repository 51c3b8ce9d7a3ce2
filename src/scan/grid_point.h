#pragma once

#include "analysis/misfit.h"
#include "data/data_table.h"
#include "engine/model_parameters.h"
#include "scan/scan_table.h"

#include <atomic>

namespace dravo2 {
inline namespace scan {

// How every loop of a scan runs: Start over the parameters' sweep, then one Reverse. With
// SaturatedStart the layers start along the first field (the "M vs Hx" and "M vs Hy" displays'
// start), else at zero angles; the projection is taken along y with ProjectionAlongY.
struct ScanPlan {
    bool SaturatedStart = true;
    bool ProjectionAlongY = false;
};

// A measured curve that every loop of a scan is compared with, and the background terms fitted.
struct ScanComparison {
    const ExperimentData* Measured = nullptr;
    MisfitOptions Background;
    // The sample's area over the measured moment's unit (m^2 per unit); > 0 fixes each loop's scale
    // at its saturated moment.
    double AreaPerMomentUnit = 0;
};

// The loop of one grid point, numbers in and numbers out: Start over `parameters.Sweep`, then
// the reversed branch, and the row's features (and its misfit against `comparison` when given a
// curve). The row's Parameters are left empty for the caller. A loop cut short by `stop` has no
// features; a floating-point error during a step leaves them empty with the message in Problem.
// Safe to call from several threads at once.
ScanRow SimulateGridPoint(const ParameterSet& parameters, const ScanPlan& plan, const std::atomic<bool>* stop = nullptr,
                          const ScanComparison* comparison = nullptr);

} // namespace scan
} // namespace dravo2
