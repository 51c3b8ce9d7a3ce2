#include "engine/layer_model.h"

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
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!(s.t[i] > 0)) {
            continue;
        }
        e = static_cast<double>(e - s.M[i] * s.t[i] * (Hx * std::cos(a[i]) + Hy * std::sin(a[i])));
        const Real x = a[i] - s.Alpha[i];
        if (s.Anisotropy == AnisotropyForm::Uniaxial) {
            const Real c = std::cos(x);
            e = static_cast<double>(e - (s.K[i] * s.t[i]) * (c * c));
        } else if (s.Anisotropy == AnisotropyForm::Quartic) {
            const Real c = std::cos(x);
            const Real sn = std::sin(x);
            e = static_cast<double>(e - (s.K[i] * s.t[i]) * (c * c) * (sn * sn));
        }
        if (i + 1 < kLayers && s.t[i + 1] > 0) {
            const Real d = a[i] - a[i + 1];
            if (s.J[i] != 0) {
                e = static_cast<double>(e - s.J[i] * std::cos(d));
            }
            if (s.Jbq[i] != 0) {
                const Real c = std::cos(d);
                e = static_cast<double>(e - s.Jbq[i] * (c * c));
            }
        }
        if (i + 1 == kLayers) {
            e = static_cast<double>(e - s.Bias * std::cos(a[i]));
        }
    }
    return e;
}

void LayerModel::EnergyGradient(const AngleSet& a, AngleSet& grad) const {
    const LayerStack& s = Stack;
    const auto [Hx, Hy] = Field();
    for (std::size_t i = 0; i < kLayers; ++i) {
        Real g = 0;
        if (s.t[i] > 0) {
            g += s.M[i] * s.t[i] * (Hx * std::sin(a[i]) - Hy * std::cos(a[i]));
            const Real x = a[i] - s.Alpha[i];
            if (s.Anisotropy == AnisotropyForm::Uniaxial) {
                g += s.K[i] * s.t[i] * std::sin(2 * x);
            } else if (s.Anisotropy == AnisotropyForm::Quartic) {
                g -= s.K[i] * s.t[i] * 0.5L * std::sin(4 * x);
            }
            const bool next = i + 1 < kLayers && s.t[i + 1] > 0;
            const bool previous = i > 0 && s.t[i - 1] > 0;
            if (next && s.J[i] != 0) {
                g += s.J[i] * std::sin(a[i] - a[i + 1]);
            }
            if (previous && s.J[i - 1] != 0) {
                g -= s.J[i - 1] * std::sin(a[i - 1] - a[i]);
            }
            if (next && s.Jbq[i] != 0) {
                g += s.Jbq[i] * std::sin(2 * (a[i] - a[i + 1]));
            }
            if (previous && s.Jbq[i - 1] != 0) {
                g -= s.Jbq[i - 1] * std::sin(2 * (a[i - 1] - a[i]));
            }
            if (i + 1 == kLayers) {
                g += s.Bias * std::sin(a[i]);
            }
        }
        grad[i] = g;
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

} // namespace engine
} // namespace dravo2
