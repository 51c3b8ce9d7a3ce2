#pragma once

#include "engine/gradient_kernel.h"
#include "engine/layer_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dravo2 {

inline constexpr Real kPi = 3.14159265358979323846264338327950288L;
inline constexpr Real kTwoPi = 6.28318530717958647692528676655900577L;

// The program's one pseudo-random generator: a linear congruential generator whose state starts
// at 0 and is never seeded, so every run draws the same sequence.
class RandomGenerator {
public:
    std::uint32_t RandomState = 0;

    // A whole number 0 .. n-1 (n >= 1): the state advances by x 134775813 + 1 mod 2^32, and the
    // result is the upper half of the 64-bit product n x state.
    std::uint32_t RandomBelow(std::uint32_t n) {
        RandomState = RandomState * 134775813u + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(n) * RandomState) >> 32);
    }
};

// Noise amplitude (rad), convergence threshold (on |grad| / energy scale, per rad) and the
// descent's iteration budget.
struct SolverSettings {
    double Ramp = 0;
    Real Conv = 0;
    std::int32_t MaxIter = 0;
};

// Why a descent ended.
enum class DescentEnd {
    Converged,      // the scaled gradient norm was no longer above the threshold
    BudgetSpent,    // n + 1 steps were taken without convergence
    NegativeBudget, // n < 0: no step at all
};

// |grad| summed in double, each square rounded to double; leaves the gradient in `grad`.
template <typename Gradient> double GradientNorm(const Gradient& gradient, const AngleSet& angles, AngleSet& grad) {
    gradient(angles, grad);
    double sum = 0;
    for (const Real g : grad) {
        sum += static_cast<double>(g * g);
    }
    return std::sqrt(sum);
}

// Plain gradient descent on `a` with a step factor falling linearly from 1.001 - 1/n to
// 0.001 - 1/n over at most n + 1 steps, until |grad| x scale is no longer above conv. Layers 1
// and 2 are wrapped back by 2 pi once per step when they leave -2 pi .. 2 pi; layers 3 and 4 are
// left unbounded. Returns the number of steps. With n = 0 on an unconverged start the step
// factor divides by zero: "Floating point division by zero", angles unmoved.
template <typename Gradient>
std::int32_t Relax(AngleSet& a, std::int32_t n, double scale, double rate, double conv, const Gradient& gradient,
                   AngleSet& grad, DescentEnd* why = nullptr) {
    // Counted in 64 bits: with the largest budget the count reaches n + 1 = 2^31.
    std::int64_t i = 0;
    DescentEnd end = DescentEnd::Converged;
    for (;;) {
        if (i > n) {
            end = n < 0 ? DescentEnd::NegativeBudget : DescentEnd::BudgetSpent;
            break;
        }
        const double g = GradientNorm(gradient, a, grad);
        if (!(static_cast<Real>(g) * scale > conv)) {
            break;
        }
        ++i;
        const Real f = 1.001L - static_cast<Real>(i) / static_cast<Real>(n);
        CheckFloatingPoint(f);
        for (std::size_t k = 0; k < kLayers; ++k) {
            a[k] = a[k] - grad[k] * rate * scale * f;
        }
        for (std::size_t k = 0; k < 2; ++k) {
            if (a[k] > kTwoPi) {
                a[k] = a[k] - kTwoPi;
            } else if (a[k] < -kTwoPi) {
                a[k] = a[k] + kTwoPi;
            }
        }
    }
    CheckFloatingPoint(a);
    if (why != nullptr) {
        *why = end;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(i, INT32_MAX));
}

// One relaxation of a sweep step on `theta`: the noise kick (four draws), the energy scale from
// the kicked angles and ten random angle sets (forty draws), then the descent. Returns the
// descent's step count.
std::int32_t RelaxStep(LayerModel& model, AngleSet& theta, const SolverSettings& settings, RandomGenerator& random,
                       AngleSet& grad);

// The same with the gradient evaluated term by term as the energy is written (slower; for checks).
std::int32_t RelaxStepLiteral(LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                              RandomGenerator& random, AngleSet& grad);

} // namespace dravo2
