#include "engine/layer_model.h"

#include "engine/energy_terms.h"

#include <cmath>

namespace dravo2 {
inline namespace engine {

FieldComponents LayerModel::Field() const {
    return {static_cast<double>(FieldH * std::cos(static_cast<Real>(FieldAngle))),
            static_cast<double>(FieldH * std::sin(static_cast<Real>(FieldAngle)))};
}

Real LayerModel::Energy(const AngleSet& a) const {
    const LayerStack& s = Stack;
    const auto [Hx, Hy] = Field();
    double e = 0;
    // Each term in extended precision, the running sum rounded to double after every term.
    const auto add = [&e](Real term) { e = static_cast<double>(e + term); };
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!(s.t[i] > 0)) {
            continue;
        }
        add(ZeemanEnergy::Value<Real>(s.M[i] * s.t[i], Hx, Hy, std::sin(a[i]), std::cos(a[i])));
        const Real x = a[i] - s.Alpha[i];
        if (s.Anisotropy == AnisotropyForm::Uniaxial) {
            add(UniaxialAnisotropy::ValueOfCosine<Real>(s.K[i] * s.t[i], std::cos(x)));
        } else if (s.Anisotropy == AnisotropyForm::Quartic) {
            add(FourfoldAnisotropy::Value<Real>(s.K[i] * s.t[i], std::sin(x), std::cos(x)));
        }
        if (i + 1 < kLayers && s.t[i + 1] > 0) {
            const Real d = a[i] - a[i + 1];
            if (s.J[i] != 0) {
                add(BilinearCoupling::ValueOfCosine<Real>(s.J[i], std::cos(d)));
            }
            if (s.Jbq[i] != 0) {
                add(BiquadraticCoupling::ValueOfCosine<Real>(s.Jbq[i], std::cos(d)));
            }
        }
        if (i + 1 == kLayers) {
            add(ExchangeBias::ValueOfCosine<Real>(s.Bias, std::cos(a[i])));
        }
    }
    return e;
}

void LayerModel::EnergyGradient(const AngleSet& a, AngleSet& grad) const {
    const LayerStack& s = Stack;
    const auto [Hx, Hy] = Field();
    grad.fill(0);
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!(s.t[i] > 0)) {
            continue;
        }
        const Real sa = std::sin(a[i]);
        const Real ca = std::cos(a[i]);
        grad[i] += ZeemanEnergy::First<Real>(s.M[i] * s.t[i], Hx, Hy, sa, ca);
        const Real x = a[i] - s.Alpha[i];
        if (s.Anisotropy == AnisotropyForm::Uniaxial) {
            grad[i] += UniaxialAnisotropy::First<Real>(s.K[i] * s.t[i], std::sin(x), std::cos(x));
        } else if (s.Anisotropy == AnisotropyForm::Quartic) {
            grad[i] += FourfoldAnisotropy::First<Real>(s.K[i] * s.t[i], std::sin(x), std::cos(x));
        }
        if (i + 1 < kLayers && s.t[i + 1] > 0) {
            // d = a_i - a_i+1: dE/da_i = dE/dd, dE/da_i+1 = -dE/dd.
            const Real d = a[i] - a[i + 1];
            const Real sd = std::sin(d);
            const Real cd = std::cos(d);
            const Real torque =
                BilinearCoupling::First<Real>(s.J[i], sd, cd) + BiquadraticCoupling::First<Real>(s.Jbq[i], sd, cd);
            grad[i] += torque;
            grad[i + 1] -= torque;
        }
        if (i + 1 == kLayers) {
            grad[i] += ExchangeBias::First<Real>(s.Bias, sa, ca);
        }
    }
}

namespace {

// The thickness-weighted mean of M times each layer's direction(i) over the magnetised layers.
template <typename Direction> double WeightedProjection(const LayerStack& s, const Direction& direction) {
    double thickness = 0;
    double weighted = 0;
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (s.M[i] > 0 && s.t[i] > 0) {
            thickness = static_cast<double>(thickness + s.t[i]);
            weighted = static_cast<double>(weighted + s.t[i] * s.M[i] * direction(i));
        }
    }
    return thickness > 0 ? weighted / thickness : 0.0;
}

} // namespace

double LayerModel::MagnetisationProjection(const AngleSet& a, bool alongY) const {
    return WeightedProjection(Stack, [&a, alongY](std::size_t i) { return alongY ? std::sin(a[i]) : std::cos(a[i]); });
}

double LayerModel::MagnetisationProjection(const Eigen::Vector4d& directions) const {
    return WeightedProjection(
        Stack, [&directions](std::size_t i) { return static_cast<Real>(directions[static_cast<Eigen::Index>(i)]); });
}

LayerValues LayersOf(const LayerStack& stack) {
    LayerValues layers;
    for (std::size_t i = 0; i < kLayers; ++i) {
        layers.M[i] = static_cast<double>(stack.M[i]);
        layers.t[i] = static_cast<double>(stack.t[i]);
    }
    return layers;
}

} // namespace engine
} // namespace dravo2
