#include "engine/newton.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>

namespace dravo2 {
namespace {

// Halvings of a step before the line search gives up (the energy change is exact enough that
// this only happens when rounding has stopped all progress).
constexpr int kMaxHalvings = 50;

// Gives each absent layer a decoupled diagonal entry as large as the present layers' block (its
// gradient component is 0), so that the fixed-size factorisation and eigen solver work on the
// present layers' system alone. Returns the Frobenius norm of that block.
double RestrictToPresent(const EnergyDerivatives& energy, Matrix4& hess) {
    const double norm = hess.norm(); // the absent rows and columns are still zero here
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (!energy.Present(static_cast<int>(k))) {
            hess(k, k) = norm > 0 ? norm : 1.0;
        }
    }
    return norm;
}

void ZeroAbsent(const EnergyDerivatives& energy, Vector4& v) {
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (!energy.Present(static_cast<int>(k))) {
            v[k] = 0;
        }
    }
}

// Nocedal and Wright, algorithm 3.3: the Newton direction of H + tau I, with tau = 0 when the
// diagonal is positive and otherwise just above its most negative entry, doubled (and at least
// beta = 1e-3 |H|) until the Cholesky factorisation succeeds. False when no shift gave a finite
// direction.
bool ModifiedNewtonDirection(const Matrix4& hess, double norm, const Vector4& grad, Vector4& direction) {
    const double beta = 1e-3 * norm;
    if (!(beta > 0) || !std::isfinite(beta)) {
        return false;
    }
    const double minDiagonal = hess.diagonal().minCoeff();
    double tau = minDiagonal > 0 ? 0 : beta - minDiagonal;
    Eigen::LLT<Matrix4> cholesky;
    for (int attempt = 0; attempt < 64; ++attempt) {
        cholesky.compute(hess + tau * Matrix4::Identity());
        if (cholesky.info() == Eigen::Success) {
            direction = -cholesky.solve(grad);
            return direction.allFinite();
        }
        tau = std::max(2 * tau, beta);
    }
    return false;
}

// At a stationary point: the unit direction of most negative curvature when the Hessian has an
// eigenvalue below zero by more than rounding; false at a minimum (or a flat direction).
bool NegativeCurvatureDirection(const Matrix4& hess, Vector4& direction) {
    const Eigen::LLT<Matrix4> cholesky(hess);
    if (cholesky.info() == Eigen::Success) {
        return false;
    }
    const Eigen::SelfAdjointEigenSolver<Matrix4> eigen(hess);
    if (eigen.info() != Eigen::Success) {
        return false;
    }
    const Vector4& lambda = eigen.eigenvalues(); // ascending
    if (!(lambda[0] < -1e-12 * lambda.cwiseAbs().maxCoeff())) {
        return false;
    }
    direction = eigen.eigenvectors().col(0);
    return true;
}

// Sines and cosines of the whole angles -3 .. 2 rad that the energy-scale stage samples.
struct SampleTrig {
    std::array<double, 6> Sin{};
    std::array<double, 6> Cos{};
};

const SampleTrig& SampleAngles() {
    static const SampleTrig table = [] {
        SampleTrig t;
        for (int k = 0; k < 6; ++k) {
            t.Sin[static_cast<std::size_t>(k)] = std::sin(static_cast<double>(k - 3));
            t.Cos[static_cast<std::size_t>(k)] = std::cos(static_cast<double>(k - 3));
        }
        return t;
    }();
    return table;
}

} // namespace

std::int32_t RelaxNewton(const EnergyDerivatives& energy, AngleSet& theta, std::int32_t n, double scale, double conv,
                         AngleSet& grad) {
    const double twoPi = static_cast<double>(kTwoPi);
    Vector4 a;
    for (std::size_t k = 0; k < kLayers; ++k) {
        a[static_cast<Eigen::Index>(k)] = static_cast<double>(theta[k]);
    }
    Vector4 g = Vector4::Zero();
    Matrix4 h;
    Vector4 p;
    bool evaluated = false;
    std::int64_t i = 0;
    while (i <= n) {
        energy.GradientAndHessian(a, g, h);
        evaluated = true;
        CheckFloatingPoint(h);
        const double norm = RestrictToPresent(energy, h);
        if (!(g.norm() * scale > conv)) {
            Vector4 v;
            if (!NegativeCurvatureDirection(h, v)) {
                break;
            }
            ZeroAbsent(energy, v);
            p = (kSaddleEscapeStep / v.norm()) * v;
            if (energy.EnergyChange(a, -p) < energy.EnergyChange(a, p)) {
                p = -p;
            }
        } else {
            if (!ModifiedNewtonDirection(h, norm, g, p) || !(g.dot(p) < 0)) {
                const double largest = g.cwiseAbs().maxCoeff();
                p = largest > 0 ? Vector4(-(kNewtonStepCap / largest) * g) : Vector4::Zero();
            }
            ZeroAbsent(energy, p);
            const double largest = p.cwiseAbs().maxCoeff();
            if (largest > kNewtonStepCap) {
                p *= kNewtonStepCap / largest;
            }
            double slope = g.dot(p);
            bool sufficient = energy.EnergyChange(a, p) <= kArmijoFraction * slope;
            for (int halving = 0; !sufficient && halving < kMaxHalvings; ++halving) {
                p *= 0.5;
                slope *= 0.5;
                sufficient = energy.EnergyChange(a, p) <= kArmijoFraction * slope;
            }
            if (!sufficient) {
                break;
            }
        }
        CheckFloatingPoint(p);
        ++i;
        for (std::size_t k = 0; k < kLayers; ++k) {
            const auto e = static_cast<Eigen::Index>(k);
            double moved = a[e] + p[e];
            if (k < 2) {
                if (moved > twoPi) {
                    moved -= twoPi;
                } else if (moved < -twoPi) {
                    moved += twoPi;
                }
            }
            if (moved != a[e]) {
                a[e] = moved;
                theta[k] = moved;
            }
        }
    }
    if (evaluated) {
        for (std::size_t k = 0; k < kLayers; ++k) {
            grad[k] = g[static_cast<Eigen::Index>(k)];
        }
    }
    CheckFloatingPoint(theta);
    return static_cast<std::int32_t>(std::min<std::int64_t>(i, INT32_MAX));
}

std::int32_t RelaxStepNewton(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                             RandomGenerator& random, AngleSet& grad) {
    ClearFloatingPointFlags();
    for (std::size_t k = 0; k < kLayers; ++k) {
        const std::uint32_t r = random.RandomBelow(10);
        theta[k] = (theta[k] + settings.Ramp) - static_cast<Real>(r) * settings.Ramp / 5;
    }
    CheckFloatingPoint(theta);
    const EnergyDerivatives energy(model);
    Vector4 kicked;
    for (std::size_t k = 0; k < kLayers; ++k) {
        kicked[static_cast<Eigen::Index>(k)] = static_cast<double>(theta[k]);
    }
    double s = 1e-10;
    const double e0 = energy.Energy(kicked);
    s += e0 * e0;
    CheckFloatingPoint(s);
    const SampleTrig& samples = SampleAngles();
    for (int sample = 0; sample < 10; ++sample) {
        Vector4 sn;
        Vector4 cs;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const std::uint32_t r = random.RandomBelow(6);
            sn[k] = samples.Sin[r];
            cs[k] = samples.Cos[r];
        }
        const double e = energy.Energy(sn, cs);
        s += e * e;
        CheckFloatingPoint(s);
    }
    const double scale = 1.0 / std::sqrt(s);
    return RelaxNewton(energy, theta, settings.MaxIter, scale, StoreDouble(settings.Conv), grad);
}

} // namespace dravo2
