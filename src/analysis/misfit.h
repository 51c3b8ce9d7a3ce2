#pragma once

#include "data/data_table.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace analysis {

// A curve as runs of equal length: the field (A/m) and the value at each point, and for a
// measured curve optionally the standard uncertainty of each value (same unit, > 0).
struct CurveView {
    const double* Field = nullptr;
    const double* Value = nullptr;
    std::int32_t Count = 0;
    const double* Sigma = nullptr; // none: the values carry no stated uncertainty
};

// Column 1 (field) and column 2 of the measured table (with its uncertainty column where the
// import chose one), and of the simulated table.
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

// The value at `field` on `branch` of `curve`, whose field runs monotonically through it: linear
// between the two rows that bracket it, the first row at exactly that field where there is one.
double InterpolateOnBranch(const CurveView& curve, const Branch& branch, double field);

// The saturation projection (T): sum(M t) / sum(t) over the layers with M > 0 and t > 0, the
// layers the magnetisation projection sums over; 0 when there is none.
double SaturationProjection(std::span<const double> magnetisation, std::span<const double> thickness);

// mu0 in V s / (A m), as the import's field units take it.
inline constexpr double kMu0 = 4e-7 * 3.14159265358979323846;

// The saturated moment of a sample of `area` (m^2): sum(M t) A / mu0 in A m^2 over the layers
// with M > 0 and t > 0, divided by `momentUnit` (the measured moment's unit in A m^2, 1e-3 for
// emu) to give it in the measured moment's unit.
double SaturatedMoment(std::span<const double> magnetisation, std::span<const double> thickness, double area,
                       double momentUnit);

struct MisfitOptions {
    bool Slope = false;  // fit a background slope b (moment per A/m)
    bool Offset = false; // fit an offset c
    // When > 0, the scale s is this number (the sample's saturated moment in the measured unit,
    // see SaturatedMoment) instead of a fitted one.
    double FixedScale = 0;
};

// The comparison of a measured curve y_j with the simulated one, modelled as
// y_j = s m_j + b H_j + c with m_j the simulated projection over its saturation, interpolated at
// H_j on the first simulated branch of the same direction that covers H_j. The residual is
// r_j = y_j - (s m_j + b H_j + c); s (unless fixed), b and c are the weighted least-squares
// solution, found by a rank-revealing solve that gives the minimum-norm coefficients when the
// model's columns are not independent over the covered points. The weight w_j is half the field
// distance to each neighbour within the measured branch, divided by sigma_j^2 where the measured
// curve states uncertainties. The misfit is sqrt(sum w r^2 / sum w) / R with R half the
// peak-to-peak of the measured moment over the compared points: a number fixed by the data alone,
// so that no choice of s, b and c can shrink it other than by matching the data.
struct MisfitResult {
    bool Valid = false;
    std::string Reason;           // why there is no misfit, when !Valid
    double Misfit = 0;            // sqrt(sum w r^2 / sum w) / R
    double HalfRange = 0;         // R, in the measured moment's unit
    double Scale = 0;             // s
    double Slope = 0;             // b, 0 unless fitted
    double Offset = 0;            // c, 0 unless fitted
    bool ScaleFixed = false;      // s came from the sample's size, not from the fit
    std::int32_t LinearTerms = 0; // how many of s, b, c were fitted
    // Which fitted terms the covered points cannot tell apart ("scale and slope", ...); empty
    // when all are determined. The coefficients are then the minimum-norm solution.
    std::string Degenerate;
    std::int32_t Covered = 0; // measured points within a simulated branch of their direction
    std::int32_t Total = 0;   // measured points
    // With uncertainties: chi^2 = sum over the covered points of (r / sigma)^2 (a turning point
    // compared on both its branches counts once, with the mean of its two terms).
    bool HasChiSquare = false;
    double ChiSquare = 0;
    // One entry per comparison (a turning point is compared on both its branches), in curve
    // order: the measured point (from 0), its weight and sqrt(w) r / R, so that
    // Misfit^2 = sum(WeightedResiduals^2) / SumWeights. Filled when Valid.
    std::vector<std::int32_t> Points;
    std::vector<double> Weights;
    std::vector<double> WeightedResiduals;
    double SumWeights = 0;
};

// The degrees of freedom of chi^2: covered points less the free parameters and the fitted linear
// terms; may be 0 or negative where there are too few points.
std::int32_t DegreesOfFreedom(const MisfitResult& result, std::int32_t freeParameters);

// "scale and slope cannot be told apart over the measured range" for a degenerate result; empty
// otherwise.
std::string DegenerateText(const MisfitResult& result);

MisfitResult ComputeMisfit(const CurveView& measured, const CurveView& simulated, double saturation,
                           const MisfitOptions& options);

} // namespace analysis
} // namespace dravo2
