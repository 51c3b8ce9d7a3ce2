#pragma once

#include "engine/layer_model.h"

#include <random>

namespace dravo2::testing {

// A stack in a field with every parameter drawn at random: either anisotropy form, couplings of
// both signs, bias, axes and field angle; each layer absent with probability `absent`.
inline LayerModel RandomModel(std::mt19937_64& rng, double absent = 0.2) {
    std::uniform_real_distribution<double> u(0, 1);
    LayerModel model;
    LayerStack& s = model.Stack;
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.M[i] = 0.3 + 1.7 * u(rng);
        s.t[i] = u(rng) < absent ? 0 : (1 + 19 * u(rng)) * 1e-9;
        s.K[i] = -1000 + 5000 * u(rng);
        s.Alpha[i] = 1.6 * u(rng);
        s.J[i] = (2 * u(rng) - 1) * 1e-3;
        s.Jbq[i] = (2 * u(rng) - 1) * 3e-4;
    }
    s.Bias = 2e-3 * u(rng);
    s.Anisotropy = u(rng) < 0.5 ? AnisotropyForm::Uniaxial : AnisotropyForm::Quartic;
    model.FieldH = (2 * u(rng) - 1) * 3e5;
    model.FieldAngle = 1.6 * u(rng);
    return model;
}

} // namespace dravo2::testing
