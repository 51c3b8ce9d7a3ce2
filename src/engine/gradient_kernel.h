#pragma once

#include "engine/layer_model.h"

namespace dravo2 {
inline namespace engine {

// The energy gradient of a LayerModel, prepared once per relaxation for the descent's inner
// loop. It takes one sine-cosine pair per present layer, forms the sines and cosines of the
// anisotropy's and the couplings' arguments from them by the angle-sum identities, and sums the
// terms' first derivatives (engine/energy_terms.h); it agrees with LayerModel::EnergyGradient to
// rounding.
class GradientKernel {
public:
    explicit GradientKernel(const LayerModel& model);

    void operator()(const AngleSet& angles, AngleSet& grad) const;

private:
    std::array<bool, kLayers> Present{};
    std::array<Real, kLayers> Zeeman{};     // M t
    std::array<Real, kLayers> Anisotropy{}; // K t
    std::array<Real, kLayers> CosAlpha{};
    std::array<Real, kLayers> SinAlpha{};
    std::array<Real, kLayers> Bilinear{};    // J of a pair whose layers are both present, else 0
    std::array<Real, kLayers> Biquadratic{}; // Jbq likewise
    Real Hx = 0;
    Real Hy = 0;
    Real Bias = 0;
    AnisotropyForm Form = AnisotropyForm::None;
};

} // namespace engine
} // namespace dravo2
