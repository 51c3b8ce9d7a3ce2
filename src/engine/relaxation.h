#pragma once

#include "engine/gradient_kernel.h"
#include "engine/layer_model.h"
#include "engine/physical_constants.h"
#include "engine/random_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dravo2 {
inline namespace engine {

// How a sweep step relaxes after its kick: the gradient descent, or Newton's method (newton.h).
enum class SolverMethod { Descent, Newton };

// Noise amplitude (rad), convergence threshold (on |grad| / energy scale, per rad), the
// iteration budget and the method.
struct SolverSettings {
    double NoiseRadians = 0;
    Real ConvergenceThreshold = 0;
    std::int32_t IterationBudget = 0;
    SolverMethod Method = SolverMethod::Descent;
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

// What one descent is given: the budget n, the energy scale's inverse, the rate and the threshold.
struct DescentSettings {
    std::int32_t Budget = 0;
    double Scale = 1;
    double Rate = 0.1;
    double ConvergenceThreshold = 0;
};

// How a descent ended: the steps it took and why it stopped.
struct DescentResult {
    std::int32_t Iterations = 0;
    DescentEnd Why = DescentEnd::Converged;
};

// Plain gradient descent on `a` with a step factor falling linearly from 1.001 - 1/n to
// 0.001 - 1/n over at most n + 1 steps, until |grad| x scale is no longer above conv. Layers 1
// and 2 are wrapped back by 2 pi once per step when they leave -2 pi .. 2 pi; layers 3 and 4 are
// left unbounded. With n = 0 on an unconverged start the step factor divides by zero:
// "Floating point division by zero", angles unmoved.
template <typename Gradient>
DescentResult Relax(AngleSet& a, const DescentSettings& settings, const Gradient& gradient, AngleSet& grad) {
    const std::int32_t n = settings.Budget;
    const double scale = settings.Scale;
    const double rate = settings.Rate;
    const double conv = settings.ConvergenceThreshold;
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
    return {static_cast<std::int32_t>(std::min<std::int64_t>(i, INT32_MAX)), end};
}

// The noise kick of a sweep step: each angle moves by NoiseRadians x (1 - r / 5) with r drawn from 0 .. 9,
// layer by layer (four draws).
void KickAngles(AngleSet& theta, const SolverSettings& settings, RandomGenerator& random);

// The same kick without its floating-point test, for a caller that tests the flags once after its
// whole step and takes the step again with every test when one is up.
void KickAnglesUntested(AngleSet& theta, const SolverSettings& settings, RandomGenerator& random);

// One relaxation of a sweep step on `theta`: the noise kick (four draws), the energy scale from
// the kicked angles and ten random angle sets (forty draws), then the descent. Returns the
// descent's step count.
std::int32_t RelaxStep(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                       RandomGenerator& random, AngleSet& grad);

// The same with the gradient evaluated term by term as the energy is written (slower; for checks).
std::int32_t RelaxStepLiteral(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                              RandomGenerator& random, AngleSet& grad);

} // namespace engine
} // namespace dravo2
