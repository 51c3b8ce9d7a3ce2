#include "engine/resonance_modes.h"

#include "engine/energy_terms.h"

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <numbers>

namespace dravo2 {
inline namespace engine {
namespace {

constexpr double kNoMode = std::numeric_limits<double>::quiet_NaN();

// The smallest eigenvalue of the Hessian, relative to the largest, that still counts as a stable
// minimum: below it the softest mode is a rounding remnant of a neutral or unstable direction.
constexpr double kStableCurvature = 1e-12;

constexpr Eigen::Index PolarIndex(std::size_t layer) {
    return static_cast<Eigen::Index>(layer);
}
constexpr Eigen::Index AzimuthIndex(std::size_t layer) {
    return static_cast<Eigen::Index>(kLayers + layer);
}

// A function of one angle with its first and second derivatives.
struct Factor {
    double Value = 0;
    double First = 0;
    double Second = 0;
};

// Out of the plane the in-plane terms of a layer scale with a power of sin p: the Zeeman term and
// the bias with sin p (m.x = sin p cos a), the uniaxial anisotropy with sin^2 p, the fourfold with
// sin^4 p. Their derivatives in p and a are then the in-plane term's, taken with its strength
// times the factor or its derivatives.
Factor SinePower(int power, double s, double c) {
    switch (power) {
    case 1:
        return {s, c, -s};
    case 2:
        return {s * s, 2 * s * c, 2 * (c * c - s * s)};
    default:
        return {s * s * s * s, 4 * s * s * s * c, 12 * s * s * c * c - 4 * s * s * s * s};
    }
}

} // namespace

int ModeCount(const ModeRow& modes) {
    return static_cast<int>(std::count_if(modes.begin(), modes.end(), [](double f) { return !std::isnan(f); }));
}

SpatialAngles InPlaneAngles(const AngleSet& theta) {
    SpatialAngles angles;
    for (std::size_t i = 0; i < kLayers; ++i) {
        angles[PolarIndex(i)] = 0.5 * std::numbers::pi;
        angles[AzimuthIndex(i)] = static_cast<double>(theta[i]);
    }
    return angles;
}

SpatialEnergy::SpatialEnergy(const LayerModel& model) : Form(model.Stack.Anisotropy) {
    const LayerStack& s = model.Stack;
    const FieldComponents field = model.Field();
    for (std::size_t i = 0; i < kLayers; ++i) {
        IsPresent[i] = s.t[i] > 0;
    }
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!IsPresent[i]) {
            continue;
        }
        Moments[i] = static_cast<double>(s.M[i] * s.t[i] / kVacuumPermeability);
        ZeemanX[i] = static_cast<double>(s.M[i] * s.t[i] * field.Hx);
        ZeemanY[i] = static_cast<double>(s.M[i] * s.t[i] * field.Hy);
        if (Form != AnisotropyForm::None) {
            Anisotropy[i] = static_cast<double>(s.K[i] * s.t[i]);
        }
        CosAlpha[i] = static_cast<double>(std::cos(s.Alpha[i]));
        SinAlpha[i] = static_cast<double>(std::sin(s.Alpha[i]));
        Shape[i] = static_cast<double>(s.t[i] * s.M[i] * s.M[i] / (2 * kVacuumPermeability));
        if (i + 1 < kLayers && IsPresent[i + 1]) {
            Bilinear[i] = static_cast<double>(s.J[i]);
            Biquadratic[i] = static_cast<double>(s.Jbq[i]);
        }
    }
    if (IsPresent[kLayers - 1]) {
        ZeemanX[kLayers - 1] += s.Bias; // -Bias m.x has the form of a field along x
    }
}

Real SpatialEnergy::Energy(const SpatialAngles& angles) const {
    std::array<Real, kLayers> sp{};
    std::array<Real, kLayers> cp{};
    std::array<Real, kLayers> sa{};
    std::array<Real, kLayers> ca{};
    Real e = 0;
    for (std::size_t i = 0; i < kLayers; ++i) {
        const Real p = angles[PolarIndex(i)];
        const Real a = angles[AzimuthIndex(i)];
        sp[i] = std::sin(p);
        cp[i] = std::cos(p);
        sa[i] = std::sin(a);
        ca[i] = std::cos(a);
        if (!IsPresent[i]) {
            continue;
        }
        e += ZeemanEnergy::Value<Real>(sp[i], ZeemanX[i], ZeemanY[i], sa[i], ca[i]);
        if (Form != AnisotropyForm::None) {
            const auto [sx, cx] = AngleDifference(sa[i], ca[i], SinAlpha[i], CosAlpha[i]);
            const Real s2 = sp[i] * sp[i];
            e += Form == AnisotropyForm::Uniaxial ? UniaxialAnisotropy::Value<Real>(Anisotropy[i] * s2, sx, cx)
                                                  : FourfoldAnisotropy::Value<Real>(Anisotropy[i] * s2 * s2, sx, cx);
        }
        e += Shape[i] * cp[i] * cp[i];
    }
    for (std::size_t i = 0; i + 1 < kLayers; ++i) {
        const Real dot = sp[i] * sp[i + 1] * (ca[i] * ca[i + 1] + sa[i] * sa[i + 1]) + cp[i] * cp[i + 1];
        e += BilinearCoupling::ValueOfCosine<Real>(Bilinear[i], dot) +
             BiquadraticCoupling::ValueOfCosine<Real>(Biquadratic[i], dot);
    }
    return e;
}

namespace {

// The in-plane term e(a) of one layer per unit strength, by the terms of engine/energy_terms.h.
template <typename Term> Factor InPlane(double su, double cu) {
    return {Term::template Value<double>(1, su, cu), Term::template First<double>(1, su, cu),
            Term::template Second<double>(1, su, cu)};
}

// Adds the derivatives of a layer's term E(p, a) = S f(p) e(a), f a power of sin p and e(a) the
// in-plane term per unit strength: dE/dp = S f' e, dE/da = S f e', and so on.
void AddOutOfPlane(double strength, const Factor& polar, const Factor& inPlane, Eigen::Index p, Eigen::Index a,
                   SpatialAngles& grad, SpatialHessian& hess) {
    grad[p] += strength * polar.First * inPlane.Value;
    grad[a] += strength * polar.Value * inPlane.First;
    hess(p, p) += strength * polar.Second * inPlane.Value;
    hess(a, a) += strength * polar.Value * inPlane.Second;
    hess(p, a) += strength * polar.First * inPlane.First;
}

} // namespace

void SpatialEnergy::GradientAndHessian(const SpatialAngles& angles, SpatialAngles& grad, SpatialHessian& hess) const {
    grad.setZero();
    hess.setZero();
    std::array<double, kLayers> sp{};
    std::array<double, kLayers> cp{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        sp[i] = std::sin(angles[PolarIndex(i)]);
        cp[i] = std::cos(angles[PolarIndex(i)]);
        if (!IsPresent[i]) {
            continue;
        }
        const Eigen::Index p = PolarIndex(i);
        const Eigen::Index a = AzimuthIndex(i);
        const double sa = std::sin(angles[a]);
        const double ca = std::cos(angles[a]);

        // Zeeman and bias: sin p times the in-plane Zeeman term of the field ZeemanX, ZeemanY.
        const Factor zeeman{ZeemanEnergy::Value<double>(1, ZeemanX[i], ZeemanY[i], sa, ca),
                            ZeemanEnergy::First<double>(1, ZeemanX[i], ZeemanY[i], sa, ca),
                            ZeemanEnergy::Second<double>(1, ZeemanX[i], ZeemanY[i], sa, ca)};
        AddOutOfPlane(1, SinePower(1, sp[i], cp[i]), zeeman, p, a, grad, hess);

        // Anisotropy, x = a - Alpha: K t sin^2 p or K t sin^4 p times the in-plane form.
        if (Form != AnisotropyForm::None) {
            const auto [sx, cx] = AngleDifference(sa, ca, SinAlpha[i], CosAlpha[i]);
            if (Form == AnisotropyForm::Uniaxial) {
                AddOutOfPlane(Anisotropy[i], SinePower(2, sp[i], cp[i]), InPlane<UniaxialAnisotropy>(sx, cx), p, a,
                              grad, hess);
            } else {
                Factor fourfold = InPlane<FourfoldAnisotropy>(sx, cx);
                fourfold.Value = FourfoldAnisotropy::ValueFromDoubleAngle<double>(1, sx, cx);
                AddOutOfPlane(Anisotropy[i], SinePower(4, sp[i], cp[i]), fourfold, p, a, grad, hess);
            }
        }

        // Shape: E = D cos^2 p.
        grad[p] -= 2 * Shape[i] * sp[i] * cp[i];
        hess(p, p) -= 2 * Shape[i] * (cp[i] * cp[i] - sp[i] * sp[i]);
        hess(a, p) = hess(p, a);
    }

    for (std::size_t i = 0; i + 1 < kLayers; ++i) {
        if (Bilinear[i] == 0 && Biquadratic[i] == 0) {
            continue;
        }
        const std::size_t j = i + 1;
        // The four angles of the pair, in the order pi, pj, ai, aj.
        const std::array<Eigen::Index, 4> index{PolarIndex(i), PolarIndex(j), AzimuthIndex(i), AzimuthIndex(j)};
        const double d = angles[AzimuthIndex(i)] - angles[AzimuthIndex(j)];
        const double sd = std::sin(d);
        const double cd = std::cos(d);
        const double si = sp[i];
        const double sj = sp[j];
        const double ci = cp[i];
        const double cj = cp[j];
        // m_i.m_j = sin pi sin pj cos(ai - aj) + cos pi cos pj, its gradient and Hessian.
        const double dot = si * sj * cd + ci * cj;
        const Eigen::Vector4d g(ci * sj * cd - si * cj, si * cj * cd - ci * sj, -si * sj * sd, si * sj * sd);
        Eigen::Matrix4d h;
        // clang-format off
        h << -dot,                  ci * cj * cd + si * sj, -ci * sj * sd,  ci * sj * sd,
             ci * cj * cd + si * sj, -dot,                  -si * cj * sd,  si * cj * sd,
             -ci * sj * sd,          -si * cj * sd,         -si * sj * cd,  si * sj * cd,
             ci * sj * sd,           si * cj * sd,          si * sj * cd,  -si * sj * cd;
        // clang-format on
        // The couplings as functions of the cosine: E'' = E_cc g g^T + E_c h.
        const double slope = BilinearCoupling::SlopeInCosine<double>(Bilinear[i], dot) +
                             BiquadraticCoupling::SlopeInCosine<double>(Biquadratic[i], dot);
        const double curvature = BilinearCoupling::CurvatureInCosine<double>(Bilinear[i]) +
                                 BiquadraticCoupling::CurvatureInCosine<double>(Biquadratic[i]);
        const Eigen::Matrix4d pairHessian = slope * h + curvature * (g * g.transpose());
        for (int r = 0; r < 4; ++r) {
            grad[index[static_cast<std::size_t>(r)]] += slope * g[r];
            for (int c = 0; c < 4; ++c) {
                hess(index[static_cast<std::size_t>(r)], index[static_cast<std::size_t>(c)]) += pairHessian(r, c);
            }
        }
    }
}

ModeRow ModesOfHessian(const SpatialHessian& hessian, const std::array<bool, kLayers>& present,
                       const std::array<double, kLayers>& moments, double gamma) {
    ModeRow modes;
    modes.fill(kNoMode);
    std::array<std::size_t, kLayers> layers{};
    Eigen::Index n = 0;
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (present[i]) {
            if (!(moments[i] > 0) || !std::isfinite(moments[i])) {
                return modes;
            }
            layers[static_cast<std::size_t>(n++)] = i;
        }
    }
    if (n == 0 || !hessian.allFinite()) {
        return modes;
    }
    using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, 2 * kLayers, 2 * kLayers>;
    // The present layers' polar angles first, then their azimuths.
    auto full = [&](Eigen::Index k) {
        const std::size_t layer = layers[static_cast<std::size_t>(k % n)];
        return k < n ? PolarIndex(layer) : AzimuthIndex(layer);
    };
    Matrix h(2 * n, 2 * n);
    for (Eigen::Index r = 0; r < 2 * n; ++r) {
        for (Eigen::Index c = 0; c < 2 * n; ++c) {
            h(r, c) = hessian(full(r), full(c));
        }
    }
    const Eigen::SelfAdjointEigenSolver<Matrix> curvature(h);
    if (curvature.info() != Eigen::Success) {
        return modes;
    }
    const auto& lambda = curvature.eigenvalues(); // ascending
    if (!(lambda[0] > kStableCurvature * lambda[2 * n - 1])) {
        return modes;
    }
    // With H = L L^T, L = V sqrt(Lambda), the matrix A = W H of the linearised equations
    // (W = gamma mu^-1 [0 -1; 1 0], antisymmetric) is similar to S = L^T W L: L^T A L^-T = S.
    // S is antisymmetric too, so its eigenvalues are the same +-i w, and its singular values are
    // the w, each twice, found without the loss of a nonsymmetric eigensolver.
    const Matrix l = curvature.eigenvectors() * lambda.cwiseSqrt().asDiagonal();
    Matrix w = Matrix::Zero(2 * n, 2 * n);
    for (Eigen::Index k = 0; k < n; ++k) {
        const double rate = gamma / moments[layers[static_cast<std::size_t>(k)]];
        w(k, n + k) = -rate;
        w(n + k, k) = rate;
    }
    const Matrix s = l.transpose() * w * l;
    const Eigen::JacobiSVD<Matrix> svd(s);
    const auto& omega = svd.singularValues(); // descending, in pairs
    for (Eigen::Index k = 0; k < n; ++k) {
        const Eigen::Index pair = 2 * (n - 1 - k);
        modes[static_cast<std::size_t>(k)] = 0.5 * (omega[pair] + omega[pair + 1]) / (2 * std::numbers::pi);
    }
    return modes;
}

ModeRow ResonanceModes(const LayerModel& model, const AngleSet& theta, double gamma) {
    std::fexcept_t flags;
    std::fegetexceptflag(&flags, FE_ALL_EXCEPT);
    const SpatialEnergy energy(model);
    SpatialAngles grad;
    SpatialHessian hess;
    energy.GradientAndHessian(InPlaneAngles(theta), grad, hess);
    std::array<bool, kLayers> present{};
    std::array<double, kLayers> moments{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        present[i] = energy.Present(static_cast<int>(i));
        moments[i] = energy.Moment(static_cast<int>(i));
    }
    const ModeRow modes = ModesOfHessian(hess, present, moments, gamma);
    std::fesetexceptflag(&flags, FE_ALL_EXCEPT);
    return modes;
}

std::vector<ResonanceField> ResonanceFields(std::span<const double> fields, std::span<const ModeRow> modes,
                                            std::span<const std::int32_t> branchOfRow, double frequency) {
    std::vector<ResonanceField> found;
    const std::size_t rows = std::min({fields.size(), modes.size(), branchOfRow.size()});
    for (std::size_t row = 0; row + 1 < rows; ++row) {
        for (std::size_t k = 0; k < kLayers; ++k) {
            const double f0 = modes[row][k];
            const double f1 = modes[row + 1][k];
            if (std::isnan(f0) || std::isnan(f1) || (f0 <= frequency) == (f1 <= frequency)) {
                continue;
            }
            // A row exactly at the frequency counts as below it, so that a crossing through it is found once.
            const double h = fields[row] + (frequency - f0) / (f1 - f0) * (fields[row + 1] - fields[row]);
            found.push_back({branchOfRow[row + 1], static_cast<int>(k + 1), h});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const ResonanceField& x, const ResonanceField& y) {
        return x.Branch != y.Branch ? x.Branch < y.Branch : x.Mode < y.Mode;
    });
    return found;
}

} // namespace engine
} // namespace dravo2
