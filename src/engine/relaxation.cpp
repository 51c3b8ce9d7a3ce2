#include "engine/relaxation.h"

namespace dravo2 {
inline namespace engine {
namespace {

// The kick and the energy scale; returns 1 / EnergyScale as the descent takes it.
double KickAndScale(const LayerModel& model, AngleSet& theta, const SolverSettings& settings, RandomGenerator& random) {
    ClearFloatingPointFlags();
    KickAngles(theta, settings, random);
    double s = 1e-10;
    const Real kicked = model.Energy(theta);
    s = static_cast<double>(s + kicked * kicked);
    CheckFloatingPoint(s);
    for (int sample = 0; sample < 10; ++sample) {
        AngleSet phi{};
        for (std::size_t k = 0; k < kLayers; ++k) {
            phi[k] = static_cast<Real>(static_cast<std::int32_t>(random.RandomBelow(6)) - 3);
        }
        const Real e = model.Energy(phi);
        s = static_cast<double>(s + e * e);
        CheckFloatingPoint(s);
    }
    const double energyScale = static_cast<double>(std::sqrt(static_cast<Real>(s)));
    return StoreDouble(1.0L / energyScale);
}

} // namespace

void KickAnglesUntested(AngleSet& theta, const SolverSettings& settings, RandomGenerator& random) {
    for (std::size_t k = 0; k < kLayers; ++k) {
        const std::uint32_t r = random.RandomBelow(10);
        theta[k] = (theta[k] + settings.NoiseRadians) - static_cast<Real>(r) * settings.NoiseRadians / 5;
    }
}

void KickAngles(AngleSet& theta, const SolverSettings& settings, RandomGenerator& random) {
    KickAnglesUntested(theta, settings, random);
    CheckFloatingPoint(theta);
}

std::int32_t RelaxStep(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                       RandomGenerator& random, AngleSet& grad) {
    const double scale = KickAndScale(model, theta, settings, random);
    const GradientKernel kernel(model);
    return Relax(theta, {settings.IterationBudget, scale, 0.1, StoreDouble(settings.ConvergenceThreshold)}, kernel,
                 grad)
        .Iterations;
}

std::int32_t RelaxStepLiteral(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                              RandomGenerator& random, AngleSet& grad) {
    const double scale = KickAndScale(model, theta, settings, random);
    auto literal = [&model](const AngleSet& angles, AngleSet& out) { model.EnergyGradient(angles, out); };
    return Relax(theta, {settings.IterationBudget, scale, 0.1, StoreDouble(settings.ConvergenceThreshold)}, literal,
                 grad)
        .Iterations;
}

} // namespace engine
} // namespace dravo2
