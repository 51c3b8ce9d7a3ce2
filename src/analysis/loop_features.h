#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace dravo2 {
inline namespace analysis {

// One branch of a loop in sweep order: fields (A/m) and the projection at each field.
struct LoopBranch {
    std::span<const double> Field;
    std::span<const double> Value;
};

// Features of a hysteresis loop, on the projection divided by the saturation projection so that
// the values run from -1 to 1. A field is missing where the curve gives none (a branch that never
// crosses zero has no coercive field).
struct LoopFeatures {
    std::optional<double> CoerciveDown;    // A/m, zero crossing of the branch of falling field
    std::optional<double> CoerciveUp;      // A/m, zero crossing of the branch of rising field
    std::optional<double> ExchangeBias;    // A/m, mean of the two crossings
    std::optional<double> Coercivity;      // A/m, half the up crossing minus the down crossing
    std::optional<double> RemanenceDown;   // value at zero field on the falling branch
    std::optional<double> RemanenceUp;     // value at zero field on the rising branch
    std::optional<double> SaturationField; // A/m, smallest |H| beyond which both branches stay saturated
    int Jumps = 0;                         // neighbouring steps differing by more than kJumpSize
};

inline constexpr double kSaturatedValue = 0.99;
inline constexpr double kJumpSize = 0.1;

// The first x, in order, where y reaches 0: a sample at exactly 0, or linear interpolation
// between neighbours of opposite signs.
std::optional<double> FirstZeroCrossing(std::span<const double> x, std::span<const double> y);

// y where x first passes 0, interpolated linearly between the samples around it.
std::optional<double> ValueAtZero(std::span<const double> x, std::span<const double> y);

// The features of the loop made of two branches (one of rising and one of falling field, told
// apart by their first and last fields; when that does not decide, `first` counts as rising).
// `saturation` is the projection of the saturated stack; with no positive saturation the loop
// cannot be normalised and no feature is given.
LoopFeatures ComputeLoopFeatures(const LoopBranch& first, const LoopBranch& second, double saturation);

} // namespace analysis
} // namespace dravo2
