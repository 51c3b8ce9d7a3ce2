#pragma once

#include "data/data_table.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dravo2 {

// A curve as two runs of equal length: the field (A/m) and the value at each point.
struct CurveView {
    const double* Field = nullptr;
    const double* Value = nullptr;
    std::int32_t Count = 0;
};

// Column 1 (field) and column 2 of the measured table, and of the simulated table.
CurveView MeasuredCurve(const ExperimentData& experiment);
CurveView SimulatedCurve(const SimulationData& simulation);

enum class BranchDirection { Down, Up };

// Points First..Last (from 0, both included) along which the field runs one way.
struct Branch {
    std::int32_t First = 0;
    std::int32_t Last = 0;
    BranchDirection Direction = BranchDirection::Up;
};

// Splits a curve where the sign of the field change flips; a step of zero change stays in the
// current branch, and the point where the field turns ends one branch and starts the next. A
// branch takes the direction of its first nonzero change (upward when the field never changes).
std::vector<Branch> SplitBranches(std::span<const double> field);

// The saturation projection (T): sum(M t) / sum(t) over the layers with M > 0 and t > 0, the
// layers the magnetisation projection sums over; 0 when there is none.
double SaturationProjection(std::span<const double> magnetisation, std::span<const double> thickness);

struct MisfitOptions {
    bool Slope = false;  // fit a background slope b (moment per A/m)
    bool Offset = false; // fit an offset c
};

// The comparison of a measured curve y_j with the simulated one, modelled as
// y_j = s m_j + b H_j + c with m_j the simulated projection over its saturation, interpolated at
// H_j on the first simulated branch of the same direction that covers H_j. s, b and c are the
// weighted least-squares solution; w_j is half the field distance to each neighbour within the
// measured branch.
struct MisfitResult {
    bool Valid = false;
    std::string Reason;       // why there is no misfit, when !Valid
    double Misfit = 0;        // sqrt(sum w r^2 / sum w) / |s|, a fraction of the fitted saturation
    double Scale = 0;         // s
    double Slope = 0;         // b, 0 unless fitted
    double Offset = 0;        // c, 0 unless fitted
    std::int32_t Covered = 0; // measured points within a simulated branch of their direction
    std::int32_t Total = 0;   // measured points
    // One entry per comparison (a turning point is compared on both its branches), in curve
    // order: the measured point (from 0), its weight and sqrt(w) r / |s|, so that
    // Misfit^2 = sum(WeightedResiduals^2) / SumWeights. Filled when Valid.
    std::vector<std::int32_t> Points;
    std::vector<double> Weights;
    std::vector<double> WeightedResiduals;
    double SumWeights = 0;
};

MisfitResult ComputeMisfit(const CurveView& measured, const CurveView& simulated, double saturation,
                           const MisfitOptions& options);

} // namespace dravo2
