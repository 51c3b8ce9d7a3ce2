#include "engine/gradient_kernel.h"

#include "engine/energy_terms.h"

#include <cmath>

namespace dravo2 {
inline namespace engine {

GradientKernel::GradientKernel(const LayerModel& model) : Form(model.Stack.Anisotropy) {
    const LayerStack& s = model.Stack;
    bool anyPresent = false;
    for (std::size_t i = 0; i < kLayers; ++i) {
        Present[i] = s.t[i] > 0;
        anyPresent = anyPresent || Present[i];
        Zeeman[i] = s.M[i] * s.t[i];
        Anisotropy[i] = s.K[i] * s.t[i];
        CosAlpha[i] = std::cos(s.Alpha[i]);
        SinAlpha[i] = std::sin(s.Alpha[i]);
        const bool pair = i + 1 < kLayers && Present[i] && s.t[i + 1] > 0;
        Bilinear[i] = pair ? s.J[i] : 0;
        Biquadratic[i] = pair ? s.Jbq[i] : 0;
    }
    if (anyPresent) {
        const FieldComponents field = model.Field();
        Hx = field.Hx;
        Hy = field.Hy;
    }
    Bias = Present[kLayers - 1] ? s.Bias : 0;
}

void GradientKernel::operator()(const AngleSet& a, AngleSet& grad) const {
    std::array<Real, kLayers> sn{};
    std::array<Real, kLayers> cs{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        Real g = 0;
        if (Present[i]) {
            sincosl(a[i], &sn[i], &cs[i]);
            g = ZeemanEnergy::First<Real>(Zeeman[i], Hx, Hy, sn[i], cs[i]);
            if (Form != AnisotropyForm::None) {
                // x = a - Alpha by the angle-sum identities
                const auto [sx, cx] = AngleDifference(sn[i], cs[i], SinAlpha[i], CosAlpha[i]);
                g += Form == AnisotropyForm::Uniaxial ? UniaxialAnisotropy::First<Real>(Anisotropy[i], sx, cx)
                                                      : FourfoldAnisotropy::First<Real>(Anisotropy[i], sx, cx);
            }
        }
        grad[i] = g;
    }
    for (std::size_t i = 0; i + 1 < kLayers; ++i) {
        if (Bilinear[i] == 0 && Biquadratic[i] == 0) {
            continue;
        }
        // d = a[i] - a[i+1]
        const auto [sd, cd] = AngleDifference(sn[i], cs[i], sn[i + 1], cs[i + 1]);
        const Real torque = BilinearCoupling::First<Real>(Bilinear[i], sd, cd) +
                            BiquadraticCoupling::First<Real>(Biquadratic[i], sd, cd);
        grad[i] += torque;
        grad[i + 1] -= torque;
    }
    grad[kLayers - 1] += ExchangeBias::First<Real>(Bias, sn[kLayers - 1], cs[kLayers - 1]);
}

} // namespace engine
} // namespace dravo2
