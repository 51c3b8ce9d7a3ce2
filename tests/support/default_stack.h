#pragma once

#include "engine/layer_model.h"

namespace dravo2::testing {

// The stack of the window's default fields, with uniaxial anisotropy and all axes at 0.
inline LayerStack DefaultStack() {
    LayerStack s;
    s.M = {1.5L, 1.5L, 0.7L, 1.0L};
    s.t = {2e-9L, 2e-9L, 2e-9L, 20e-9L};
    s.K = {100, 100, 60, 1000};
    s.J = {-0.002e-3L, 0, 0.2e-3L, 0};
    s.Jbq = {0, 0, 0, 0};
    s.Bias = 1e-3;
    s.Anisotropy = AnisotropyForm::Uniaxial;
    return s;
}

} // namespace dravo2::testing
